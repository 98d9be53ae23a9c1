// A library the test plants where no program's library should be looked for.
extern "C" __declspec(dllexport) int velcrestPlantedLibrary() {
    return 1;
}
