#include "ui/PdfPrint.h"

#include <QFile>
#include <QFileInfo>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryFile>
#include <QTextStream>
#include <filesystem>
#include <string>

#include "accompaniment/DocumentOpening.h"
#include "engine/SafeWrite.h"
#include "engine/Tonality.h"
#include "ui/PrintPainter.h"

namespace varimel {

namespace {

QString local(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QString statusText(StatusCode status) {
    return QStringLiteral("status %1 (%2)")
        .arg(status)
        .arg(QString::fromUtf8(statusMeaning(status)));
}

// The command line's default draft when none is named.
constexpr int kDefaultPrintDraft = kDraftIV;
const char* const kDraftNames[] = {"I", "II", "III", "IV"};

// "Major or relative minor" is answered with the key found, as the window's "No" does. Draft IV
// needs no key recognition and finds its key in any melody.
StatusCode harmoniseWithDraft(OpenedDocument& document, int draft) {
    HarmonyOptions options = document.options;
    applyDraft(draft, options);
    if (!document.keyRecognised && draft != kDraftIV) options.AutoKey = false;
    const ChordMethod method =
        draft == kDraftIV ? ChordMethod::kDraftFour : ChordMethod::kHarmonizer;
    ChordMaster& master = *document.master;
    StatusCode status = master.harmonise(options, method);
    if (status == status::kMajorOrRelativeMinor && isValidKey(master.key)) {
        setFileKey(*document.composition(), master.key, options);
        status = master.harmonise(options, method);
    }
    return status;
}

int draftOfName(const QString& name) {
    for (int draft = kDraftI; draft <= kDraftIV; ++draft)
        if (name == QLatin1String(kDraftNames[draft - 1])) return draft;
    return 0;
}

}  // namespace

QString printToPdf(const PdfPrintRequest& request, int* usedDraft) {
    if (usedDraft) *usedDraft = 0;
    const std::string input = QFile::encodeName(request.input).toStdString();
    const std::string output = QFile::encodeName(request.output).toStdString();
    const DocumentKind kind = documentKindByExtension(input);
    if (kind == DocumentKind::kNone) {
        return request.input + QStringLiteral(": not a melody (.mid) or a project (.vml)");
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(input, error)) {
        return QStringLiteral("cannot read %1: no such file").arg(request.input);
    }
    const std::string conflict = sameFileConflict({input}, {output});
    if (!conflict.empty()) {
        return QStringLiteral("will not print over the input: %1").arg(local(conflict));
    }

    OpenedDocument document;
    OpeningRequest opening;
    opening.path = input;
    opening.kind = kind;
    opening.report = [](const std::string&) {};  // the accompaniment is not printed
    // Melodies on several channels: the first, which the window's list selects.
    opening.chooseMelodyChannel = [](const std::vector<int>& channels) {
        return channels.empty() ? -1 : channels.front();
    };
    const StatusCode loaded = openDocument(document, opening);
    if (!documentUsable(loaded)) {
        return QStringLiteral("cannot open %1: %2").arg(request.input, statusText(loaded));
    }
    Composition& composition = *document.composition();
    if (kind != DocumentKind::kProject || !composition.hasChordTrack() || request.draft != 0) {
        const int draft = request.draft != 0 ? request.draft : kDefaultPrintDraft;
        const StatusCode status = harmoniseWithDraft(document, draft);
        if (status != status::kOk && status != status::kManyKeys) {
            return QStringLiteral("cannot harmonise %1: %2").arg(request.input, statusText(status));
        }
        if (usedDraft) *usedDraft = draft;
    }

    // The pages go to a temporary file beside the output, which replaces it only when complete.
    const std::filesystem::path target = resolveOutputPath(output, error);
    if (error)
        return QStringLiteral("cannot write %1: %2").arg(request.output, local(error.message()));
    const QString targetName = local(target.string());
    const QString folder =
        local(target.parent_path().empty() ? std::string(".") : target.parent_path().string());
    QTemporaryFile pages(folder + QStringLiteral("/.varimel-print-XXXXXX.pdf"));
    if (!pages.open()) {
        return QStringLiteral("cannot write %1: %2").arg(request.output, pages.errorString());
    }
    pages.close();

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setResolution(request.resolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setOutputFileName(pages.fileName());
    printer.setDocName(QFileInfo(request.input).fileName());
    QPainter painter;
    if (!painter.begin(&printer)) {
        return QStringLiteral("cannot write %1: the PDF could not be started").arg(request.output);
    }
    const model::PrintSheet sheet =
        sheetToPrint(composition, request.input, request.title, request.author);
    const bool printed = paintPages(painter, printer, sheet, request.screenDpi, {});
    if (!painter.end() || !printed) {
        return QStringLiteral("cannot write %1: the pages could not be drawn").arg(request.output);
    }
    // A temporary file is the owner's alone; the sheet is an ordinary document.
    pages.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                         QFileDevice::ReadOther);
    std::filesystem::rename(QFile::encodeName(pages.fileName()).toStdString(), target, error);
    if (error)
        return QStringLiteral("cannot write %1: %2").arg(request.output, local(error.message()));
    pages.setAutoRemove(false);
    return {};
}

int runPrintPdf(const QStringList& arguments) {
    QTextStream err(stderr);
    QTextStream out(stdout);
    const QString usage = QStringLiteral(
        "usage: varimel --print-pdf OUT.pdf FILE [--title TITLE] [--author AUTHOR] "
        "[--draft I|II|III|IV]");
    PdfPrintRequest request;
    QStringList positional;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String(kPrintPdfOption)) continue;
        if (argument == QLatin1String("--draft")) {
            request.draft = i + 1 < arguments.size() ? draftOfName(arguments[++i]) : 0;
            if (request.draft == 0) {
                err << "--draft needs I, II, III or IV\n" << usage << '\n';
                return 2;
            }
        } else if (argument == QLatin1String("--title") || argument == QLatin1String("--author")) {
            if (i + 1 >= arguments.size()) {
                err << argument << " needs a value\n" << usage << '\n';
                return 2;
            }
            (argument == QLatin1String("--title") ? request.title : request.author) =
                arguments[++i];
        } else if (argument.startsWith(QLatin1String("--"))) {
            err << "unknown option " << argument << '\n' << usage << '\n';
            return 2;
        } else {
            positional << argument;
        }
    }
    if (positional.size() != 2) {
        err << usage << '\n';
        return 2;
    }
    request.output = positional[0];
    request.input = positional[1];
    int draft = 0;
    const QString failure = printToPdf(request, &draft);
    if (!failure.isEmpty()) {
        err << "varimel: " << failure << '\n';
        return 1;
    }
    if (draft != 0)
        out << "Harmonised " << request.input << " with Draft " << kDraftNames[draft - 1] << '\n';
    else
        out << "Printed the chords saved in " << request.input << '\n';
    return 0;
}

}  // namespace varimel
