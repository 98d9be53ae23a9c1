#include "demo_scenario.h"

#include "format/format_templates.h"
#include "update/update_templates.h"

namespace simrun {

sim::Scenario demoScenario() {
    sim::Scenario scenario;
    scenario.description =
        "Demonstration: update the reader on E: with the example package, switch off, "
        "log on again and format the medium";
    const sim::UserAction ok = sim::UserAction::ok();

    sim::ProgramAnswers& update = scenario.user.programs["Velcrest.exe"];
    for (const update::UpdateTemplate id :
         {update::UpdateTemplate::StartNotice, update::UpdateTemplate::MainDialog,
          update::UpdateTemplate::UpdateStart, update::UpdateTemplate::UpdateComplete,
          update::UpdateTemplate::PowerOffPrompt}) {
        update.defaults[update::templateNumber(id)] = ok;
    }
    sim::ProgramAnswers& format = scenario.user.programs["Ardlow.exe"];
    for (const format::FormatTemplate id :
         {format::FormatTemplate::MainDialog, format::FormatTemplate::NotFormatted,
          format::FormatTemplate::RevisionMatches, format::FormatTemplate::RevisionDiffers}) {
        format.defaults[format::templateNumber(id)] = ok;
    }
    return scenario;
}

}  // namespace simrun
