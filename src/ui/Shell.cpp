#include "ui/Shell.h"

#include "common/Identity.h"

namespace ordana::ui {

const std::vector<MenuItem>& mainMenu() {
    static const std::vector<MenuItem> menu = {
        {"mnuOptiuni",
         "&Optiuni",
         {},
         Command::None,
         {
             {"mnuIndici", "&Calculul indicilor", "F3", Command::Indices, {}},
             {"separator", {}, {}, Command::None, {}},
             {"mnuIesire", "&Iesire", {}, Command::Exit, {}},
         }},
        // A command straight on the menu bar, without a drop-down.
        {"mnuDespre", "&Despre", {}, Command::About, {}},
    };
    return menu;
}

void run(Command command, StartView& view) {
    switch (command) {
    case Command::Indices:
        view.showIndicesWindow();
        break;
    case Command::About:
        view.showAboutBox();
        break;
    case Command::Exit:
        view.closeMainWindow();
        break;
    case Command::None:
        break;
    }
}

namespace about {

namespace {
const char* const creditLines[] = {
    ("Indici: bogatia specifica, Simpson, Shannon, Brillouin, Berger-Parker, McIntosh, Margalef, "
     "Menhinick, Gleason."),
    "Realizare: echipa Ordana.",
    "Imaginile sunt desenate de echipa Ordana.",
};
} // namespace

std::string caption() {
    return std::string("Despre ") + identity::title;
}

std::string titleText() {
    return std::string(identity::title) + "   " + std::to_string(identity::versionMajor) + "." +
           std::to_string(identity::versionMinor) + "." + std::to_string(identity::versionRevision);
}

std::string descriptionText() {
    std::string text = "Aplicatie destinata evaluarii biodiversitatii.\r\n";
    for (const char* line : creditLines)
        text += std::string("\r\n") + line;
    return text;
}

} // namespace about

} // namespace ordana::ui
