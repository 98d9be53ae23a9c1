// Starts one of the programs as a user would and goes through its dialogs:
// each dialog that comes up is named by the template it was made from,
// its caption and texts are written down, a picture of it is taken, and the
// button the plan names for it is pressed, until the program ends.
//
//   ui_driver --program Velcrest.exe --library KELDRA_ENG.dll
//             --press 133=2,150=1 --expect 133,150,136
//             --shots FOLDER --name velcrest_ENG [--timeout MILLISECONDS]
//             [--escape 102=stays,...] [--query-suspend 102,132,...]
//             [--not-before 102=5000,...]
//
// The library is the one the program loads for the locale it runs under;
// the driver opens every template of it unseen to know each dialog again by
// its caption and texts. A template without a plan entry gets OK.
//
// A dialog with a progress bar is pressed nothing: its bar is watched until
// the dialog goes, and its picture is taken once the bar stands between its
// ends. Templates named by --escape get the Escape key first, which must
// leave them open (stays) or close them (closes; nothing is pressed then);
// those named by --query-suspend are asked whether the
// machine may suspend (a progress dialog once its bar has moved), which they
// must deny. --not-before: the template must not come sooner after the start.
//
// Exit code 0 when the dialogs came in the expected order, every check above
// held, and the program ended by itself with exit code 0.

// clang-format off
#include "win32/windows_api.h"
#include <commctrl.h>
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPollMs = 100;
// Time for a dialog that has just come up to paint itself before its picture is taken.
constexpr DWORD kSettleMs = 700;
constexpr DWORD kDefaultTimeoutMs = 60000;
constexpr int kUnknownTemplate = -1;
constexpr int kOkButton = IDOK;
constexpr char kDialogClass[] = "#32770";
constexpr WORD kBitmapSignature = 0x4D42;  // "BM"
constexpr WORD kBitsPerPixel = 24;
constexpr LONG kRowAlignment = 4;
// How long a program busy with its device may take to answer a message: the
// format polls the reader every two seconds and pumps in between.
constexpr UINT kAnswerTimeoutMs = 5000;
constexpr WPARAM kQuerySuspend = 0x0000;        // PBT_APMQUERYSUSPEND
constexpr LRESULT kSuspendDenied = 0x424D5144;  // BROADCAST_QUERY_DENY

struct Options {
    std::string program;
    std::string library;
    std::map<int, int> press;  // template -> button
    std::vector<int> expected;
    std::string shots = ".";
    std::string name = "program";
    DWORD timeoutMs = kDefaultTimeoutMs;
    std::map<int, bool> escapeStays;  // template -> whether Escape leaves it open
    std::set<int> querySuspend;
    std::map<int, DWORD> notBeforeMs;  // template -> earliest time after the start
};

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);)
        if (!part.empty()) parts.push_back(part);
    return parts;
}

std::optional<int> number(const std::string& text) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || end == nullptr || *end != '\0') return std::nullopt;
    return static_cast<int>(value);
}

bool templateSet(const std::string& value, std::set<int>& ids) {
    for (const std::string& entry : split(value, ',')) {
        const auto id = number(entry);
        if (!id) return false;
        ids.insert(*id);
    }
    return true;
}

bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
    for (int index = 1; index < argc; ++index) {
        const std::string option = argv[index];
        if (index + 1 >= argc) {
            error = option + " needs a value";
            return false;
        }
        const std::string value = argv[++index];
        if (option == "--program") {
            options.program = value;
        } else if (option == "--library") {
            options.library = value;
        } else if (option == "--shots") {
            options.shots = value;
        } else if (option == "--name") {
            options.name = value;
        } else if (option == "--timeout") {
            const auto milliseconds = number(value);
            if (!milliseconds || *milliseconds <= 0) {
                error = "--timeout takes a number of milliseconds";
                return false;
            }
            options.timeoutMs = static_cast<DWORD>(*milliseconds);
        } else if (option == "--not-before") {
            for (const std::string& entry : split(value, ',')) {
                const auto equals = entry.find('=');
                const auto dialog = number(entry.substr(0, equals));
                const auto milliseconds =
                    equals == std::string::npos ? std::nullopt : number(entry.substr(equals + 1));
                if (!dialog || !milliseconds || *milliseconds < 0) {
                    error = "--not-before takes TEMPLATE=MILLISECONDS,..., not " + entry;
                    return false;
                }
                options.notBeforeMs[*dialog] = static_cast<DWORD>(*milliseconds);
            }
        } else if (option == "--escape") {
            for (const std::string& entry : split(value, ',')) {
                const auto equals = entry.find('=');
                const auto dialog = number(entry.substr(0, equals));
                const std::string outcome =
                    equals == std::string::npos ? "" : entry.substr(equals + 1);
                if (!dialog || (outcome != "stays" && outcome != "closes")) {
                    error = "--escape takes TEMPLATE=stays|closes,..., not " + entry;
                    return false;
                }
                options.escapeStays[*dialog] = outcome == "stays";
            }
        } else if (option == "--query-suspend") {
            if (!templateSet(value, options.querySuspend)) {
                error = "--query-suspend takes TEMPLATE,..., not " + value;
                return false;
            }
        } else if (option == "--press") {
            for (const std::string& entry : split(value, ',')) {
                const auto equals = entry.find('=');
                const auto dialog = number(entry.substr(0, equals));
                const auto button =
                    equals == std::string::npos ? std::nullopt : number(entry.substr(equals + 1));
                if (!dialog || !button) {
                    error = "--press takes TEMPLATE=BUTTON,..., not " + entry;
                    return false;
                }
                options.press[*dialog] = *button;
            }
        } else if (option == "--expect") {
            for (const std::string& entry : split(value, ',')) {
                const auto dialog = number(entry);
                if (!dialog) {
                    error = "--expect takes TEMPLATE,..., not " + entry;
                    return false;
                }
                options.expected.push_back(*dialog);
            }
        } else {
            error = "unknown option " + option;
            return false;
        }
    }
    if (options.program.empty() || options.library.empty()) {
        error = "--program and --library are needed";
        return false;
    }
    return true;
}

std::string windowText(HWND window) {
    const int length = ::GetWindowTextLengthA(window);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int copied = ::GetWindowTextA(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied < 0 ? 0 : copied));
    return text;
}

std::string className(HWND window) {
    char name[64] = {};
    const int length = ::GetClassNameA(window, name, static_cast<int>(sizeof name));
    return std::string(name, static_cast<std::size_t>(length < 0 ? 0 : length));
}

// What a person sees of a dialog: its caption and the texts of its
// controls, in their order.
struct DialogFace {
    std::string caption;
    std::vector<std::string> texts;

    bool operator==(const DialogFace&) const = default;
    bool operator<(const DialogFace& other) const {
        return caption != other.caption ? caption < other.caption : texts < other.texts;
    }
};

BOOL CALLBACK collectText(HWND control, LPARAM face) {
    reinterpret_cast<DialogFace*>(face)->texts.push_back(windowText(control));
    return TRUE;
}

// The entries of a dialog's combo boxes, as the user opens the list.
BOOL CALLBACK printEntries(HWND control, LPARAM) {
    if (className(control) != WC_COMBOBOXA) return TRUE;
    const auto count = ::SendMessageA(control, CB_GETCOUNT, 0, 0);
    for (LRESULT index = 0; index < count; ++index) {
        const auto length = ::SendMessageA(control, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
        if (length < 0) continue;
        std::string entry(static_cast<std::size_t>(length) + 1, '\0');
        ::SendMessageA(control, CB_GETLBTEXT, static_cast<WPARAM>(index),
                       reinterpret_cast<LPARAM>(entry.data()));
        entry.resize(static_cast<std::size_t>(length));
        std::printf("    entry %s\n", entry.c_str());
    }
    return TRUE;
}

DialogFace faceOf(HWND dialog) {
    DialogFace face{windowText(dialog), {}};
    ::EnumChildWindows(dialog, collectText, reinterpret_cast<LPARAM>(&face));
    return face;
}

INT_PTR CALLBACK silentDialog(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

BOOL CALLBACK collectTemplateId(HMODULE, LPCSTR, LPSTR name, LONG_PTR ids) {
    // Numbered templates only: that is all the libraries hold.
    const auto value = reinterpret_cast<ULONG_PTR>(name);
    if (value <= 0xFFFF)
        reinterpret_cast<std::vector<int>*>(ids)->push_back(static_cast<int>(value));
    return TRUE;
}

// Every template of the library, opened unseen, by the face it shows.
std::map<DialogFace, int> templateFaces(HMODULE library) {
    std::vector<int> ids;
    ::EnumResourceNamesA(library, RT_DIALOG, collectTemplateId, reinterpret_cast<LONG_PTR>(&ids));
    std::map<DialogFace, int> faces;
    for (const int id : ids) {
        const HWND dialog =
            ::CreateDialogParamA(library, reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(id)),
                                 nullptr, silentDialog, 0);
        if (dialog == nullptr) continue;
        faces.emplace(faceOf(dialog), id);
        ::DestroyWindow(dialog);
    }
    return faces;
}

struct Search {
    DWORD processId;
    const std::set<HWND>* handled;
    HWND found = nullptr;
};

// Top-level windows come topmost first, so the first new one is the one in front.
BOOL CALLBACK findNewDialog(HWND window, LPARAM search) {
    auto& wanted = *reinterpret_cast<Search*>(search);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != wanted.processId || className(window) != kDialogClass) return TRUE;
    if (::IsWindowVisible(window) == FALSE || wanted.handled->count(window) != 0) return TRUE;
    wanted.found = window;
    return FALSE;
}

bool writeBitmap(const std::string& path, HWND window) {
    RECT area{};
    if (::GetWindowRect(window, &area) == FALSE) return false;
    const LONG width = area.right - area.left;
    const LONG height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return false;
    const HDC screen = ::GetDC(nullptr);
    const HDC memory = ::CreateCompatibleDC(screen);
    const HBITMAP picture = ::CreateCompatibleBitmap(screen, width, height);
    const HGDIOBJ previous = ::SelectObject(memory, picture);
    ::BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    ::SelectObject(memory, previous);

    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;  // bottom-up, as the file format keeps its rows
    header.biPlanes = 1;
    header.biBitCount = kBitsPerPixel;
    header.biCompression = BI_RGB;
    const LONG rowBytes =
        (width * (kBitsPerPixel / 8) + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
    std::vector<char> pixels(static_cast<std::size_t>(rowBytes * height));
    const int rows = ::GetDIBits(memory, picture, 0, static_cast<UINT>(height), pixels.data(),
                                 reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    ::DeleteObject(picture);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    if (rows != height) return false;

    BITMAPFILEHEADER file{};
    file.bfType = kBitmapSignature;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    return static_cast<bool>(out);
}

// Presses the button as a click does, through the button itself.
bool press(HWND dialog, int button) {
    const HWND control = ::GetDlgItem(dialog, button);
    if (control == nullptr) return false;
    return ::PostMessageA(control, BM_CLICK, 0, 0) != FALSE;
}

std::string joined(const std::vector<int>& ids) {
    std::string text;
    for (const int id : ids) {
        if (!text.empty()) text += ',';
        text += std::to_string(id);
    }
    return text;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Whether the dialog is still up, for the program that owns it.
bool stillShown(HWND dialog) {
    return ::IsWindow(dialog) != FALSE && ::IsWindowVisible(dialog) != FALSE;
}

// Asks the dialog whether the machine may suspend, as Windows asks every
// top-level window; the program answers when it next pumps its messages.
bool suspendDenied(HWND dialog) {
    DWORD_PTR answer = 0;
    const LRESULT delivered = ::SendMessageTimeoutA(dialog, WM_POWERBROADCAST, kQuerySuspend, 0,
                                                    SMTO_NORMAL, kAnswerTimeoutMs, &answer);
    std::printf("    suspend query: %s\n", delivered == 0 ? "no answer"
                                           : static_cast<LRESULT>(answer) == kSuspendDenied
                                               ? "denied"
                                               : "allowed");
    return delivered != 0 && static_cast<LRESULT>(answer) == kSuspendDenied;
}

// Escape as the keyboard sends it, to the control that has the focus (the
// default button). Whether the dialog is still up afterwards.
bool stillUpAfterEscape(HWND dialog) {
    const HWND button = ::GetDlgItem(dialog, kOkButton);
    const HWND target = button != nullptr ? button : dialog;
    ::PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 1);
    ::PostMessageA(target, WM_KEYUP, VK_ESCAPE, 1);
    ::Sleep(kSettleMs);
    const bool stays = stillShown(dialog);
    std::printf("    escape: %s\n", stays ? "ignored" : "closed the dialog");
    return stays;
}

// A progress dialog being watched until it goes.
struct Watched {
    HWND dialog;
    HWND bar;
    int id;
    std::string shot;
    bool pictured = false;
    LRESULT first = -1;
    LRESULT last = -1;
    LRESULT high = 0;
};

std::optional<LRESULT> askBar(HWND bar, UINT message, WPARAM wParam) {
    DWORD_PTR answer = 0;
    if (::SendMessageTimeoutA(bar, message, wParam, 0, SMTO_NORMAL, kAnswerTimeoutMs, &answer) ==
        0) {
        return std::nullopt;
    }
    return static_cast<LRESULT>(answer);
}

// One look at a watched bar; its picture once it stands between its ends.
// False when a check failed.
bool lookAt(Watched& watched, const Options& options) {
    // The range is set before the dialog shows; asked once, since a program
    // busy with its device answers only between its steps.
    if (watched.high <= 0) {
        const auto high = askBar(watched.bar, PBM_GETRANGE, FALSE);
        if (!high) return true;
        watched.high = *high;
    }
    const auto position = askBar(watched.bar, PBM_GETPOS, 0);
    if (!position) return true;
    if (watched.first < 0) watched.first = *position;
    watched.last = *position;
    if (watched.pictured || *position <= 0 || *position >= watched.high) return true;
    watched.pictured = true;
    const bool taken = writeBitmap(watched.shot, watched.dialog);
    std::printf("dialog %d: bar at %ld of %ld, picture %s%s\n", watched.id,
                static_cast<long>(*position), static_cast<long>(watched.high), watched.shot.c_str(),
                taken ? "" : " FAILED");
    bool held = taken;
    if (options.querySuspend.count(watched.id) != 0) held = suspendDenied(watched.dialog) && held;
    std::fflush(stdout);
    return held;
}

bool finish(const Watched& watched) {
    std::printf("dialog %d gone: bar went from %ld to %ld of %ld%s\n", watched.id,
                static_cast<long>(watched.first), static_cast<long>(watched.last),
                static_cast<long>(watched.high),
                watched.pictured ? "" : ", never seen between its ends");
    return watched.pictured;
}

int run(const Options& options) {
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&classes);
    const HMODULE library = ::LoadLibraryA(options.library.c_str());
    if (library == nullptr) {
        std::printf("cannot load %s (error %lu)\n", options.library.c_str(), ::GetLastError());
        return EXIT_FAILURE;
    }
    const std::map<DialogFace, int> faces = templateFaces(library);
    std::printf("%s: %zu templates known\n", options.library.c_str(), faces.size());

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string commandLine = "\"" + options.program + "\"";
    const std::string folder = folderOf(options.program);
    const DWORD started = ::GetTickCount();
    if (::CreateProcessA(options.program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                         nullptr, folder.c_str(), &startup, &process) == FALSE) {
        std::printf("cannot start %s (error %lu)\n", options.program.c_str(), ::GetLastError());
        return EXIT_FAILURE;
    }

    std::set<HWND> handled;
    std::vector<int> seen;
    std::vector<Watched> watching;
    bool ended = false;
    bool checksHeld = true;
    for (DWORD waited = 0; waited < options.timeoutMs; waited += kPollMs) {
        if (::WaitForSingleObject(process.hProcess, kPollMs) == WAIT_OBJECT_0) {
            ended = true;
            break;
        }
        for (auto watched = watching.begin(); watched != watching.end();) {
            if (!stillShown(watched->dialog)) {
                checksHeld = finish(*watched) && checksHeld;
                watched = watching.erase(watched);
                continue;
            }
            checksHeld = lookAt(*watched, options) && checksHeld;
            ++watched;
        }
        Search search{process.dwProcessId, &handled};
        ::EnumWindows(findNewDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) continue;
        const HWND dialog = search.found;
        handled.insert(dialog);
        const HWND bar = ::FindWindowExA(dialog, nullptr, PROGRESS_CLASSA, nullptr);
        if (bar == nullptr) {
            ::Sleep(kSettleMs);
            waited += kSettleMs;
        }
        const DialogFace face = faceOf(dialog);
        const auto known = faces.find(face);
        const int id = known == faces.end() ? kUnknownTemplate : known->second;
        seen.push_back(id);
        const DWORD after = ::GetTickCount() - started;
        const auto earliest = options.notBeforeMs.find(id);
        if (earliest != options.notBeforeMs.end()) {
            std::printf("dialog %d after %lu ms\n", id, after);
            if (after < earliest->second) {
                std::printf("    sooner than %lu ms\n", earliest->second);
                checksHeld = false;
            }
        }

        const std::string shot = options.shots + "\\" + options.name + "_" +
                                 std::to_string(seen.size()) + "_" + std::to_string(id) + ".bmp";
        std::printf("dialog %d \"%s\"\n", id, face.caption.c_str());
        for (const std::string& text : face.texts)
            if (!text.empty()) std::printf("    | %s\n", text.c_str());
        ::EnumChildWindows(dialog, printEntries, 0);
        if (bar != nullptr) {
            std::printf("    progress: watched until it goes\n");
            watching.push_back(Watched{dialog, bar, id, shot});
            std::fflush(stdout);
            continue;
        }
        const bool pictured = writeBitmap(shot, dialog);
        std::printf("    picture %s%s\n", shot.c_str(), pictured ? "" : " FAILED");
        if (options.querySuspend.count(id) != 0) checksHeld = suspendDenied(dialog) && checksHeld;
        const auto escape = options.escapeStays.find(id);
        if (escape != options.escapeStays.end()) {
            const bool stays = stillUpAfterEscape(dialog);
            checksHeld = stays == escape->second && checksHeld;
            waited += kSettleMs;
            if (!stays) continue;
        }
        const auto planned = options.press.find(id);
        const int button = planned == options.press.end() ? kOkButton : planned->second;
        if (!press(dialog, button)) {
            std::printf("    cannot press button %d\n", button);
            break;
        }
        std::printf("    pressed %d\n", button);
        std::fflush(stdout);
    }
    for (const Watched& watched : watching) checksHeld = finish(watched) && checksHeld;

    DWORD exitCode = 0;
    if (!ended) {
        std::printf("%s did not end within %lu ms; stopped\n", options.program.c_str(),
                    options.timeoutMs);
        ::TerminateProcess(process.hProcess, EXIT_FAILURE);
        ::WaitForSingleObject(process.hProcess, INFINITE);
    }
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    ::FreeLibrary(library);

    std::printf("seen %s, expected %s, exit code %lu, ran %lu ms\n", joined(seen).c_str(),
                joined(options.expected).c_str(), exitCode, ::GetTickCount() - started);
    const bool asExpected = ended && exitCode == 0 && seen == options.expected && checksHeld;
    std::printf("%s\n", asExpected ? "as expected" : "NOT as expected");
    return asExpected ? EXIT_SUCCESS : EXIT_FAILURE;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        std::printf("ui_driver: %s\n", error.c_str());
        return EXIT_FAILURE;
    }
    return run(options);
}
