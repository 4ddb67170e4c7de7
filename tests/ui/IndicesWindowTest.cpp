// The windows' logic driven through a fake view: no toolkit, no window. Every toolkit's window relies on what
// is pinned here, so the rows follow one job (choose, read, compute) and every error branch of it.

#include "ui/IndicesWindow.h"
#include "ui/Shell.h"

#include "support/FakeSpreadsheet.h"

#include "common/RuntimeError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <unistd.h>

using namespace ordana;
using namespace ordana::ui;
using ordana::testing::FakeEngine;

namespace ordana::ui {
// Readable failures: the box as the user would read it.
void PrintTo(const Message& m, std::ostream* os) {
    *os << "{\"" << m.text << "\", caption \"" << m.caption << "\", "
        << (m.buttons == Buttons::OkOnly ? "OK" : "Abort/Retry/Ignore") << ", detail \"" << m.detail << "\"}";
}
} // namespace ordana::ui

namespace {

// Records what a toolkit would show and answers the boxes and the dialog from a script.
class FakeView : public IndicesView {
  public:
    Answer showMessage(const Message& message) override {
        shown.push_back(message);
        if (answers.empty()) return buttonsOf(message.buttons).front();
        const Answer next = answers.front();
        answers.pop_front();
        return next;
    }
    std::optional<std::string> askOpenFile(const std::string& title,
                                           const std::vector<FileFilter>& filters) override {
        dialogs.push_back({title, filters});
        if (files.empty()) return std::nullopt;
        const std::optional<std::string> next = files.front();
        files.pop_front();
        return next;
    }
    void setText(Control control, const std::string& value) override { text[control] = value; }
    void setEnabled(Control control, bool on) override { enabled[control] = on; }
    void setItems(Control, const std::vector<std::string>& list, int selection) override {
        items = list;
        selected = selection;
    }
    void setFocus(Control control) override { focus = control; }
    void paintNow() override { painted.push_back(text[Control::Status]); }
    void setBusy(bool on) override { busy += on ? 1 : -1; }
    void close() override { closed = true; }
    void setChecked(Control control, bool on) override { checked[control] = on; }
    void openDocument(const std::string& path) override { opened.push_back(path); }

    std::deque<Answer> answers;
    std::deque<std::optional<std::string>> files;

    std::vector<Message> shown;
    std::vector<std::pair<std::string, std::vector<FileFilter>>> dialogs;
    std::map<Control, std::string> text;
    std::map<Control, bool> enabled;
    std::vector<std::string> items;
    int selected = -2;
    std::optional<Control> focus;
    std::vector<std::string> painted;
    int busy = 0;
    bool closed = false;
    std::map<Control, bool> checked;
    std::vector<std::string> opened;
};

CellValue t(const char* s) {
    return CellValue::text(s);
}

void dataSheet(FakeEngine& engine, const std::string& file, const std::string& name,
               std::initializer_list<double> abundances, const char* b1 = "ABUNDENTA") {
    auto& sheet = engine.files[file].sheet(name);
    sheet.set(1, 1, t("SPECIA"));
    sheet.set(1, 2, t(b1));
    int row = 2;
    for (double a : abundances) {
        sheet.set(row, 1, CellValue::text("specia " + std::to_string(row - 1)));
        sheet.set(row++, 2, CellValue::number(a));
    }
}

struct Fixture {
    Fixture() {
        dataSheet(engine, "/date.xls", "Date", {10, 20, 30, 40});
        dataSheet(engine, "/date.xls", "Gresit", {1, 2}, "ABUNDENTE");
        dataSheet(engine, "/date.xls", "mici", {2, 3, 5});
        logic.initialState();
        logic.Form_Load();
    }
    void choose(const std::string& path) {
        view.files.emplace_back(path);
        logic.cmdFis_Click();
    }
    FakeEngine engine;
    FakeView view;
    IndicesWindow logic{engine.factory(), view};
};

// What the controls show after a step.
struct Shows {
    std::vector<std::string> items;
    int selected;
    std::string path;
    bool calc;
    const char* status;
};

void expectShows(const FakeView& v, const Shows& s) {
    EXPECT_EQ(v.items, s.items);
    EXPECT_EQ(v.selected, s.selected);
    EXPECT_EQ(v.text.at(Control::PathBox), s.path);
    EXPECT_EQ(v.enabled.at(Control::CalcButton), s.calc);
    EXPECT_EQ(v.text.at(Control::Status), s.status);
}

TEST(IndicesWindowLogic, OneJobFromLoadToTheWrittenTable) {
    Fixture f;
    expectShows(f.view, {{}, -1, "", false, indices::kStatusChooseFile});
    EXPECT_FALSE(f.view.enabled.at(Control::SheetList));
    EXPECT_EQ(f.view.focus, Control::CancelButton);

    f.choose("/date.xls");
    ASSERT_EQ(f.view.dialogs.size(), 1u);
    EXPECT_EQ(f.view.dialogs[0].first, "Alege fisierul Excel");
    std::vector<std::string> labels;
    for (const FileFilter& filter : f.view.dialogs[0].second)
        labels.push_back(filter.label);
    EXPECT_EQ(labels,
              (std::vector<std::string>{"Registre de calcul  (*.xls *.xlsx *.xlsm *.ods)",
                                        "Fisiere Excel  (*.xls)", "Fisiere Excel 2007-365  (*.xlsx *.xlsm)",
                                        "Fisiere OpenDocument  (*.ods)", "Toate fisierele  (*)"}));
    expectShows(f.view, {{"Date", "mici"}, 0, "/date.xls", true, indices::kStatusReady});
    EXPECT_TRUE(f.view.enabled.at(Control::SheetList));
    EXPECT_EQ(f.logic.sheetName(), "Date");
    EXPECT_EQ(f.logic.sample().speciesCount(), 4);

    f.logic.cboFoaie_Click(1);
    EXPECT_EQ(f.logic.sheetName(), "mici");
    EXPECT_EQ(f.logic.sample().speciesCount(), 3);

    f.logic.cmdCalcul_Click();
    EXPECT_EQ(f.view.painted, std::vector<std::string>{indices::kStatusWorking}) << "painted before the work";
    EXPECT_EQ(f.view.text.at(Control::Status), indices::kStatusDone);
    EXPECT_EQ(f.engine.files["/date.xls"].saves, 1);
    EXPECT_EQ(f.logic.results().speciesRichness, 3);
    EXPECT_TRUE(f.view.shown.empty());
    EXPECT_EQ(f.view.busy, 0) << "the busy pointer is given back";

    // Reopened: the controls start afresh, the fields stay.
    f.logic.initialState();
    f.logic.Form_Load();
    expectShows(f.view, {{}, -1, "", false, indices::kStatusChooseFile});
    EXPECT_EQ(f.logic.sheetName(), "mici");
    EXPECT_EQ(f.logic.workbookPath(), "/date.xls");
}

enum class Step { File, Sheet, Calc };

// Each error branch: its box, its buttons and what the window shows afterwards, from a window that has read
// "Date" of /date.xls.
TEST(IndicesWindowLogic, EveryErrorBranch) {
    const Shows read{{"Date", "mici"}, 0, "/date.xls", true, indices::kStatusReady};
    const struct Row {
        const char* name;
        Step step;
        const char* operation;
        int number;
        Answer answer;
        Message box;
        bool detailed;
        Shows after;
        bool closed;
    } rows[] = {
        {"file 429 ignored",
         Step::File,
         "start",
         429,
         Ignore,
         {"Eroare la inregistrarea unei componente ActiveX", "Ordana v1.50", Buttons::AbortRetryIgnore, ""},
         false,
         {{}, -1, "/date.xls", false, indices::kStatusChooseFile},
         false},
        {"file 429 aborted",
         Step::File,
         "start",
         429,
         Abort,
         {"Eroare la inregistrarea unei componente ActiveX", "Ordana v1.50", Buttons::AbortRetryIgnore, ""},
         false,
         {{}, -1, "/date.xls", false, indices::kStatusChooseFile},
         true},
        {"file 1004",
         Step::File,
         "open",
         1004,
         Ok,
         {"Parola nu s-a introdus sau e incorecta ", "Deschiderea fisierului Excel", Buttons::OkOnly, ""},
         true,
         {{}, -1, "", false, indices::kStatusChooseFile},
         false},
        {"file other",
         Step::File,
         "pick",
         52,
         Ok,
         {"Eroarea: 52", "Deschiderea fisierului Excel", Buttons::OkOnly, ""},
         false,
         {{}, -1, "/date.xls", false, indices::kStatusChooseFile},
         false},
        {"sheet 429 aborted",
         Step::Sheet,
         "start",
         429,
         Abort,
         {"Eroare la inregistrarea unei componente ActiveX", "Ordana v1.50", Buttons::AbortRetryIgnore, ""},
         false,
         {{"Date", "mici"}, 0, "/date.xls", false, indices::kStatusChooseFile},
         false},
        {"sheet 1004",
         Step::Sheet,
         "open",
         1004,
         Ok,
         {"Fisier inaccesibil", "Accesarea  fisierului Excel", Buttons::OkOnly, ""},
         true,
         {{"Date", "mici"}, 0, "/date.xls", false, indices::kStatusChooseFile},
         false},
        {"calc 52",
         Step::Calc,
         "open",
         52,
         Ok,
         {"Unitate inacesibila", "Eroare la scrierea in fisier", Buttons::OkOnly, ""},
         false,
         {{"Date", "mici"}, 0, "/date.xls", true, indices::kStatusWorking},
         false},
        {"calc 1004",
         Step::Calc,
         "write",
         1004,
         Ok,
         {"Fisierul este in uz sau este protejat la scriere", "Eroare la scrierea in fisier", Buttons::OkOnly,
          ""},
         true,
         {{"Date", "mici"}, 0, "/date.xls", true, indices::kStatusWorking},
         false},
        {"calc 429 aborted",
         Step::Calc,
         "start",
         429,
         Abort,
         {"Eroare la inregistrarea unei componente ActiveX", "Ordana v1.50", Buttons::AbortRetryIgnore, ""},
         false,
         {{"Date", "mici"}, 0, "/date.xls", true, indices::kStatusWorking},
         true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Fixture f;
        f.choose("/date.xls");
        f.engine.fail(r.operation, r.number);
        f.view.answers.push_back(r.answer);
        switch (r.step) {
        case Step::File:
            f.choose("/date.xls");
            break;
        case Step::Sheet:
            // The list shows the entry picked; the reading fails and leaves the earlier sample.
            f.logic.cboFoaie_Click(0);
            break;
        case Step::Calc:
            f.logic.cmdCalcul_Click();
            break;
        }
        ASSERT_EQ(f.view.shown.size(), 1u);
        Message box = f.view.shown[0];
        EXPECT_EQ(box.detail.empty(), !r.detailed) << box.detail;
        box.detail.clear();
        EXPECT_EQ(box, r.box);
        expectShows(f.view, r.after);
        EXPECT_EQ(f.view.closed, r.closed);
        if (r.number == 429) {
            EXPECT_EQ(f.logic.lastAnswer(), r.answer);
        }
        EXPECT_EQ(f.engine.files["/date.xls"].saves, 0);
        EXPECT_EQ(f.engine.openApplications + f.engine.openWorkbooks, 0) << "every reference dropped";
        EXPECT_EQ(f.view.busy, 0);
    }
}

// The button and the status bar agree after every step: the bar asks for the processing, or reports it,
// only while the button can be pressed, and asks for the file and the sheet whenever it cannot.
TEST(IndicesWindowLogic, TheButtonAndTheStatusAgree) {
    const struct {
        const char* name;
        std::function<void(Fixture&)> act;
        const char* status;
    } steps[] = {
        {"a workbook read", [](Fixture& f) { f.choose("/date.xls"); }, indices::kStatusReady},
        {"processed", [](Fixture& f) { f.logic.cmdCalcul_Click(); }, indices::kStatusDone},
        {"a workbook without data sheet", [](Fixture& f) { f.choose("/gol.xls"); },
         indices::kStatusChooseFile},
        {"read again", [](Fixture& f) { f.choose("/date.xls"); }, indices::kStatusReady},
        {"processed again", [](Fixture& f) { f.logic.cmdCalcul_Click(); }, indices::kStatusDone},
        {"a new workbook whose reading fails", [](Fixture& f) { f.choose("/rau.xls"); },
         indices::kStatusChooseFile},
        {"a sheet read", [](Fixture& f) { f.choose("/date.xls"); }, indices::kStatusReady},
        {"a workbook refused",
         [](Fixture& f) {
             f.engine.fail("open", 1004);
             f.choose("/date.xls");
             f.engine.fail("", 0);
         },
         indices::kStatusChooseFile},
        {"a cancelled dialog", [](Fixture& f) { f.logic.cmdFis_Click(); }, indices::kStatusChooseFile},
    };
    Fixture f;
    f.engine.files["/gol.xls"].sheet("Foaie1").set(1, 1, t("nimic"));
    dataSheet(f.engine, "/rau.xls", "Rau", {1, 2});
    f.engine.files["/rau.xls"].sheet("Rau").set(3, 2, t("doi"));
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        step.act(f);
        EXPECT_EQ(f.view.text.at(Control::Status), step.status);
        EXPECT_EQ(f.view.enabled.at(Control::CalcButton),
                  step.status != std::string(indices::kStatusChooseFile));
    }
}

TEST(IndicesWindowLogic, CancelAndRetry) {
    Fixture f;
    // Cancelled on first use: nothing changes, no engine is started.
    f.logic.cmdFis_Click();
    expectShows(f.view, {{}, -1, "", false, indices::kStatusChooseFile});
    EXPECT_TRUE(f.view.shown.empty());
    EXPECT_TRUE(f.engine.log.empty());
    EXPECT_EQ(f.logic.sheetName(), "");

    f.choose("/date.xls");
    f.logic.cboFoaie_Click(1);
    // Cancelled: the list's current entry is named again, nothing else moves.
    f.logic.cmdFis_Click();
    EXPECT_EQ(f.logic.sheetName(), "mici");
    EXPECT_TRUE(f.view.shown.empty());

    // Retry runs the whole command again, dialog included, until the cause is gone.
    f.engine.fail("start", 429, 0, true);
    f.view.answers = {Retry};
    f.view.files = {"/date.xls", "/date.xls"};
    f.logic.cmdFis_Click();
    EXPECT_EQ(f.view.shown.size(), 1u);
    EXPECT_EQ(f.view.dialogs.size(), 5u);
    EXPECT_EQ(f.logic.sheetName(), "Date");
    EXPECT_TRUE(f.view.enabled.at(Control::CalcButton));
}

// The choices under the list: off, the calculation is the classic one (above); with the estimates, both
// tables on the chosen sheet or on every listed one, in one save, and the report beside the workbook, opened.
TEST(IndicesWindowLogic, TheEstimatesAndEverySheet) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("ordana-ui-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string book = (folder / "date.xls").string();
    const std::string report = (folder / "date - estimari.html").string();
    struct Preferences : ui::Preferences {
        std::map<std::string, bool> kept;
        bool flag(const std::string& key, bool fallback) override {
            return kept.count(key) ? kept[key] : fallback;
        }
        void setFlag(const std::string& key, bool value) override { kept[key] = value; }
    };
    const struct Row {
        const char* name;
        bool allSheets;
        bool fractional; // "mici" gets an abundance of 2.5
        std::vector<std::string> withEstimates, withIndices;
        const char* status;
        bool box;
    } rows[] = {
        {"the chosen sheet", false, false, {"Date"}, {"Date"}, indices::kStatusDoneReport, false},
        {"every sheet", true, false, {"Date", "mici"}, {"Date", "mici"}, indices::kStatusDoneReport, false},
        {"a fraction costs the estimates only",
         true,
         true,
         {"Date"},
         {"Date", "mici"},
         indices::kStatusDoneErrorsReport,
         true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::filesystem::remove(report);
        FakeEngine engine;
        dataSheet(engine, book, "Date", {10, 20, 30, 40});
        dataSheet(engine, book, "mici", {2, r.fractional ? 2.5 : 3, 5});
        FakeView view;
        Preferences preferences;
        IndicesWindow logic{engine.factory(), view, &preferences};
        logic.initialState();
        logic.Form_Load();
        EXPECT_FALSE(view.checked.at(Control::EstimatesBox)) << "off by default";
        view.files.emplace_back(book);
        logic.cmdFis_Click();
        logic.chkEstimatori_Click(true);
        logic.chkToateFoile_Click(r.allSheets);
        logic.cmdCalcul_Click();

        EXPECT_EQ(engine.files[book].saves, 1);
        for (const char* sheet : {"Date", "mici"}) {
            std::set<std::string> headings;
            for (const auto& [at, value] : engine.files[book].sheet(sheet).cells)
                if (at.first == 1) headings.insert(value.toText());
            const auto has = [](const std::vector<std::string>& v, const char* s) {
                return std::find(v.begin(), v.end(), s) != v.end();
            };
            EXPECT_EQ(headings.count("Indici") == 1, has(r.withIndices, sheet)) << sheet;
            EXPECT_EQ(headings.count("Estimator") == 1, has(r.withEstimates, sheet)) << sheet;
        }
        EXPECT_EQ(view.text.at(Control::Status), std::string(r.status) + "date - estimari.html");
        EXPECT_EQ(view.opened, std::vector<std::string>{report});
        EXPECT_TRUE(std::filesystem::is_regular_file(report));
        EXPECT_EQ(view.shown.size(), r.box ? 1u : 0u);
        if (r.box) {
            EXPECT_NE(view.shown[0].text.find("Eroare : 13"), std::string::npos) << view.shown[0].text;
        }
        EXPECT_EQ(engine.openApplications + engine.openWorkbooks, 0);

        // Remembered: the next window starts with the same choices ticked.
        FakeView again;
        IndicesWindow next{engine.factory(), again, &preferences};
        next.initialState();
        EXPECT_TRUE(again.checked.at(Control::EstimatesBox));
        EXPECT_EQ(again.checked.at(Control::AllSheetsBox), r.allSheets);
    }
    std::filesystem::remove_all(folder);
}

TEST(ShellLogic, MenuAndAboutTexts) {
    const auto& menu = mainMenu();
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_EQ(menu[0].caption, "&Optiuni");
    ASSERT_EQ(menu[0].items.size(), 3u);
    EXPECT_EQ(menu[0].items[0].caption, "&Calculul indicilor");
    EXPECT_EQ(menu[0].items[0].shortcut, "F3");
    EXPECT_TRUE(menu[0].items[1].isSeparator());
    EXPECT_EQ(menu[0].items[2].caption, "&Iesire");
    EXPECT_EQ(menu[1].caption, "&Despre");
    EXPECT_TRUE(menu[1].items.empty()) << "a command straight on the bar";

    struct Recorder : StartView {
        std::vector<std::string> calls;
        void showIndicesWindow() override { calls.push_back("indices"); }
        void showAboutBox() override { calls.push_back("about"); }
        void closeMainWindow() override { calls.push_back("close"); }
    } view;
    for (Command command :
         {menu[0].items[0].command, menu[0].items[2].command, menu[1].command, Command::None})
        run(command, view);
    EXPECT_EQ(view.calls, (std::vector<std::string>{"indices", "close", "about"}));

    EXPECT_EQ(about::caption(), "Despre Ordana v1.50");
    EXPECT_EQ(about::titleText().rfind("Ordana v1.50   1.", 0), 0u);
    EXPECT_EQ(about::descriptionText().rfind("Aplicatie destinata evaluarii biodiversitatii.\r\n\r\n", 0),
              0u);
}

} // namespace
