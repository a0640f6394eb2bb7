// The main window's print commands: Print (the print dialog, the composition's title and author,
// then the job) and Print preview (title and author, the preview, and from there the print
// dialog and the job).
#include <QAction>

#include "ui/DialogProvider.h"
#include "ui/Finputval.h"
#include "ui/Fmain.h"
#include "ui/Fnotes_l1.h"
#include "ui/Fprintprev.h"
#include "ui/model/Msg_list.h"

namespace varimel {

namespace {

QString fromText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

void TfMain::connectPrintCommands() {
    connect(mnFPrint, &QAction::triggered, this, &TfMain::mnFPrintClick);
    connect(tb_Print, &QAction::triggered, this, &TfMain::mnFPrintClick);
    connect(mnFPrintPrev, &QAction::triggered, this, &TfMain::mnFPrintPrevClick);
    connect(tb_PrintPr, &QAction::triggered, this, &TfMain::mnFPrintPrevClick);
}

TfPrintPreview& TfMain::ensurePrintPreview() {
    if (printPreview_ == nullptr) printPreview_ = new TfPrintPreview(this, dialogs_);
    return *printPreview_;
}

void TfMain::mnFPrintClick() {
    if (notes_ == nullptr || notes_->composition() == nullptr) return;
    // Between the pages of a job the window takes input; a second job waits for the first.
    if (printPreview_ != nullptr && printPreview_->printing()) return;
    if (!dialogs_.print(this, ensurePrintPreview().printer())) return;
    printDocument(true);
}

void TfMain::mnFPrintPrevClick() {
    printDocument(false);
}

void TfMain::printDocument(bool direct) {
    const Composition* composition = notes_ ? notes_->composition() : nullptr;
    if (composition == nullptr || (printPreview_ != nullptr && printPreview_->printing())) return;
    TfIV info(this);
    info.setTexts(fromText(model::text::kCompositionInfo), QString(),
                  fromText(model::text::kCompositionTitle), fromText(model::text::kAuthorName));
    info.setValues(QString(), QString());
    if (dialogs_.run(info) != QDialog::Accepted) return;
    // The lead sheet takes the title and author the user gave last for this piece.
    compositionTitle_ = info.value1().trimmed();
    compositionAuthor_ = info.value2().trimmed();

    TfPrintPreview& preview = ensurePrintPreview();
    preview.setDocument(documentFileName_, composition);
    preview.setTexts(compositionTitle_, compositionAuthor_);
    if (direct) {
        preview.printPage();
        return;
    }
    preview.render(TfPrintPreview::kPreview);
    if (dialogs_.run(preview) == QDialog::Accepted && dialogs_.print(this, preview.printer())) {
        preview.printPage();
    }
}

}  // namespace varimel
