#include "run_procedure.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "files.h"
#include "settings.h"

#ifdef _WIN32
#include <cwchar>
#else
#include <unistd.h>
#endif

namespace vornlog {

namespace fs = std::filesystem;

namespace {

// The outputs, one row each, in the order of their OptionParam buttons;
// their French texts are the window's own.
constexpr OutputOption outputs[] = {
    {Output::Report, "Fichier de sortie  en format .txt", "", 1, "-s -v", textFilter, "*.txt",
     true},
    {Output::StepsCsv,
     "Fichier de sortie en format CVS qui permet d'extraire les informations des pas, accélération, PWM, % du "
     "buffer, ...",
     "Le fichier sera ouvert sous Excel", 2, "-s", "Fichiers csv (*.csv)|*.csv|", "*.csv", false},
    {Output::Picture, "Fichier de sortie en image SVG : trajectoire, PWM, % du buffer", "", 1, "-p",
     "Fichiers SVG (*.svg)|*.svg|", "*.svg", false},
    {Output::Summary, "Fichier de sortie résumé de la session (.txt)", "", 1, "-t", textFilter,
     "*.txt", false},
    {Output::Viewer, "Fichier de sortie page HTML : la session dans le navigateur",
     "La page s'ouvrira dans le navigateur", 1, "-w", "Pages HTML (*.html)|*.html|", "*.html", false},
    {Output::Live, "Visualiseur en direct : la session dans le navigateur pendant la capture",
     "La page s'ouvrira dans le navigateur et suivra la capture ; la page HTML est enregistrée à l'arrêt", 1,
     "-l -f", "Pages HTML (*.html)|*.html|", "*.html", false, true},
};

#ifdef _WIN32
constexpr std::string_view decoderName = "vornlog.exe";
#else
constexpr std::string_view decoderName = "vornlog";
#endif

// The error numbers and descriptions of the error box.
struct FaultText {
    Fault fault;
    int number;
    std::string_view description; // UTF-8
};

constexpr FaultText faultTexts[] = {
    {Fault::BadArgument, 5, "Appel de procédure ou argument incorrect"},
    {Fault::NotFound, 53, "Fichier introuvable"},
    {Fault::PermissionDenied, 70, "Permission refusée"},
    {Fault::PathAccess, 75, "Erreur d'accès chemin/fichier"},
};

// Ends the procedure and goes to the error box.
struct RunFailure {
    explicit RunFailure(Fault f, std::string t = {}) : fault(f), text(std::move(t)) {}
    Fault fault;
    // The box's text when the fault's own is not enough.
    std::string text;
};

std::string errorLine(const std::string& number, std::string_view description)
{
    return "Error " + number + " (" + std::string(description) + ") in procedure CommandRun_Click of Feuille VornlogRun";
}

// A decoder run that failed: its exit status as the error's number, and
// its own message (its standard error, one line as a rule) as the
// description.
std::string decoderFailureText(const ProgramEnd& end)
{
    std::string message;
    for (char c : end.errorText) {
        if (c == '\r') continue;
        if (c == '\n') message += '\r';
        message += c;
    }
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    if (message.empty()) message = "Vornlog s'est arrêté sur une erreur";
    return errorLine(std::to_string(end.status), message);
}

void check(Fault fault)
{
    if (fault != Fault::None) throw RunFailure{fault};
}

FileDialogRequest dumpDialog()
{
    return {FileDialogRequest::Kind::Open, std::string(textFilter) + std::string(usbCaptureFilter), 1,
            std::string(dumpName), false};
}

FileDialogRequest destDialog(const OutputOption& option)
{
    return {FileDialogRequest::Kind::Save, std::string(option.saveFilter), 1, std::string(option.saveName), true};
}

void refuseSpaces(Desktop& desktop)
{
    desktop.showMessage({"Il y a des espaces dans le nom du fichier\r\n\r\nVornlog ne pourra pas fonctionner",
                         "Opération abandonnée", MessageRequest::Icon::Critical, MessageRequest::Buttons::Ok});
}

bool askForSortedCopy(Desktop& desktop)
{
    const Answer answer = desktop.showMessage(
        {"Si Vornlog a créé le fichier, vous pouvez en faire une version\r\ntriée avec les exclusions mises en place",
         "Tri", MessageRequest::Icon::None, MessageRequest::Buttons::YesNo});
    return answer == Answer::Yes;
}

// A chosen file: its bare name (folders removed as the platform separates
// them) and the folder it lies in.
struct ChosenFile {
    std::string name;
    fs::path folder;
};

ChosenFile chosen(const std::string& chosenPath)
{
    std::error_code error;
    fs::path path = fs::absolute(pathOf(chosenPath), error);
    if (error) path = pathOf(chosenPath);
    return {utf8Of(path.filename()), path.parent_path()};
}

bool sameFolder(const fs::path& a, const fs::path& b)
{
    std::error_code error;
    const bool same = fs::equivalent(a, b, error);
    return error ? a.lexically_normal() == b.lexically_normal() : same;
}

bool hasSpace(const std::string& name)
{
    return name.find(' ') != std::string::npos;
}

// A bare name as the decoder is to read it: "-" would be standard input or
// output there, "./-" is the file.
std::string asFileName(const std::string& name)
{
    return name == "-" ? utf8Of(fs::path(".") / pathOf(name)) : name;
}

void run(Desktop& desktop, const RunChoices& choices)
{
    const OutputOption& option = outputOption(choices.output);
    const std::string dumpPath = desktop.chooseFile(dumpDialog());
    if (dumpPath.empty()) return;
    const ChosenFile dump = chosen(dumpPath);
    if (hasSpace(dump.name)) {
        refuseSpaces(desktop);
        return;
    }

    const std::string destPath = desktop.chooseFile(destDialog(option));
    if (destPath.empty()) return;
    const ChosenFile dest = chosen(destPath);
    if (hasSpace(dest.name)) {
        refuseSpaces(desktop);
        return;
    }

    // The decoder runs in the dest file's folder and gets the dest file by
    // its bare name; the dump file too when it lies there, its full path
    // otherwise. For a report it gets both -s and -v: the last option
    // given counts.
    const std::string dumpArgument = sameFolder(dump.folder, dest.folder)
                                         ? asFileName(dump.name)
                                         : utf8Of((dump.folder / pathOf(dump.name)).make_preferred());
    std::vector<std::string> arguments = optionArguments(option);
    arguments.push_back(dumpArgument);
    arguments.push_back(asFileName(dest.name));

    if (choices.decoder.empty()) throw RunFailure{Fault::NotFound};
    check(desktop.startProgram(choices.decoder, arguments, utf8Of(dest.folder)));
    // The live viewer follows the capture until it is stopped here: then
    // the decoder saves the page of the session and ends.
    if (option.servesUntilStopped) {
        desktop.showMessage({"Le visualiseur en direct suit la capture dans le navigateur.\r\n\r\nCliquez sur OK "
                             "pour l'arrêter : la page de la session sera enregistrée dans " +
                                 dest.name,
                             "Visualiseur en direct", MessageRequest::Icon::None, MessageRequest::Buttons::Ok});
        desktop.stopProgram();
        const ProgramEnd end = desktop.waitForProgram();
        if (end.status != 0) throw RunFailure{Fault::PathAccess, decoderFailureText(end)};
        return;
    }
    // The decoder opens its output itself when it ends; only the report
    // has a sorted copy.
    if (!option.sortedCopy) return;

    if (!askForSortedCopy(desktop)) return;
    const std::string sortedName = sortedFileName(dest.name);
    if (sortedName.empty()) throw RunFailure{Fault::BadArgument};
    // Reading the report while the decoder still writes it would give a
    // copy of half a report. A decoder that failed left no report of this
    // run (at most an earlier one): its own message says why.
    const ProgramEnd end = desktop.waitForProgram();
    if (end.status != 0) throw RunFailure{Fault::PathAccess, decoderFailureText(end)};
    const std::string sortedPath = utf8Of(dest.folder / pathOf(sortedName));
    const SortedCopyResult copy = writeSortedCopy(utf8Of(dest.folder / pathOf(dest.name)), sortedPath, choices.keep);
    if (!copy.leftAt.empty())
        throw RunFailure{copy.fault, errorText(copy.fault) + "\r\n\r\nLa copie triée est restée dans le fichier " +
                                         copy.leftAt};
    check(copy.fault);
    check(desktop.showInTextViewer(sortedPath));
}

bool isProgram(const fs::path& file)
{
    std::error_code error;
    if (!fs::is_regular_file(file, error)) return false;
#ifdef _WIN32
    return true;
#else
    return ::access(file.c_str(), X_OK) == 0;
#endif
}

} // namespace

std::vector<std::string> optionArguments(const OutputOption& option)
{
    std::vector<std::string> result;
    const std::string_view text = option.options;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find(' ', start), text.size());
        if (end > start) result.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

std::span<const OutputOption> outputOptions()
{
    return outputs;
}

const OutputOption& outputOption(Output output)
{
    for (const OutputOption& option : outputs)
        if (option.output == output) return option;
    return outputs[0];
}

std::vector<FilterPair> filterPairs(const std::string& filter)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t bar; (bar = filter.find('|', start)) != std::string::npos; start = bar + 1)
        parts.push_back(filter.substr(start, bar - start));
    if (start < filter.size()) parts.push_back(filter.substr(start));
    std::vector<FilterPair> pairs;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) pairs.push_back({parts[i], parts[i + 1]});
    return pairs;
}

std::string errorText(Fault fault)
{
    const FaultText* text = nullptr;
    for (const FaultText& t : faultTexts)
        if (t.fault == fault) text = &t;
    // Anything without a number of its own is a file access error.
    if (!text) return errorText(Fault::PathAccess);
    return errorLine(std::to_string(text->number), text->description);
}

void CommandRun_Click(Desktop& desktop, const RunChoices& choices)
{
    try {
        run(desktop, choices);
    } catch (const RunFailure& failure) {
        desktop.showMessage({failure.text.empty() ? errorText(failure.fault) : failure.text,
                             std::string(settings::applicationTitle), MessageRequest::Icon::None,
                             MessageRequest::Buttons::Ok});
    }
}

std::string locateDecoder(const std::string& launcherFolder)
{
    const fs::path beside = pathOf(launcherFolder) / pathOf(decoderName);
    if (!launcherFolder.empty() && isProgram(beside)) return utf8Of(beside);
#ifdef _WIN32
    const wchar_t* pathVariable = _wgetenv(L"PATH");
    const std::wstring list = pathVariable ? pathVariable : L"";
    const wchar_t separator = L';';
#else
    const char* pathVariable = std::getenv("PATH");
    const std::string list = pathVariable ? pathVariable : "";
    const char separator = ':';
#endif
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(separator, start), list.size());
        if (end > start) {
            const fs::path candidate = fs::path(list.substr(start, end - start)) / pathOf(decoderName);
            if (isProgram(candidate)) return utf8Of(candidate);
        }
        start = end + 1;
    }
    return {};
}

} // namespace vornlog
