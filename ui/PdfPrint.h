// PdfPrint: the chord sheet of a file printed to a PDF without a window
// (`varimel --print-pdf OUT.pdf FILE [--title T] [--author A] [--draft I|II|III|IV]`). A project
// prints its chords as saved unless a draft is named; a melody is harmonised first, with Draft IV
// unless a draft is named, as the command line does.
#pragma once

#include <QString>
#include <QStringList>

namespace varimel {

struct PdfPrintRequest {
    QString output;
    QString input;
    QString title;
    QString author;
    int draft = 0;  // kDraftI..kDraftIV; 0: a melody takes Draft IV, a project keeps its chords
    int screenDpi = 96;
    int resolution = 600;  // of the PDF's device pixels
};

// Empty on success, else why nothing was written. The input is never overwritten, and a failed
// print leaves any earlier output as it was. `usedDraft` (optional) gets the draft the chords
// came from, 0 when they are a project's own.
QString printToPdf(const PdfPrintRequest& request, int* usedDraft = nullptr);

inline constexpr const char* kPrintPdfOption = "--print-pdf";

// `arguments` are the program's arguments after its name, starting with --print-pdf. Answers the
// exit code (0 printed, 1 failed, 2 wrong arguments), with messages on standard error.
int runPrintPdf(const QStringList& arguments);

}  // namespace varimel
