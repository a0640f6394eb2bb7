#include "ui/Fsetchnl.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/FormSupport.h"

namespace varimel {

TfSetChn::TfSetChn(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint),
      Label1(named<QLabel>(this, "Label1",
                           tr("Single-voiced tunes were detected in several channels. Please, "
                              "select one of them."))),
      cb_CM(named<QComboBox>(this, "cb_CM")),
      b_Ok(named<QPushButton>(this, "b_Ok", tr("Ok"))),
      b_Cancel(named<QPushButton>(this, "b_Cancel", tr("Cancel"))) {
    setObjectName(QStringLiteral("TfSetChn"));
    setWindowTitle(tr("Select Channel of Melody"));
    // Wide enough for its caption and for a line with a long track name.
    setMinimumWidth(400);
    Label1->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(cb_CM);
    layout->addLayout(buttonRow({b_Ok, b_Cancel}));
    b_Ok->setDefault(true);
    connect(b_Ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(b_Cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfSetChn::addChannel(const QString& text, std::uint8_t channel) {
    if (cb_CM->count() >= static_cast<int>(channels_.size())) return;
    channels_[static_cast<std::size_t>(cb_CM->count())] = channel;
    cb_CM->addItem(text);
    if (cb_CM->currentIndex() < 0) cb_CM->setCurrentIndex(0);
}

void TfSetChn::clearChannels() {
    cb_CM->clear();
    channels_.fill(0);
}

int TfSetChn::selectedChannel() const {
    const int line = cb_CM->currentIndex();
    return line < 0 ? -1 : channels_[static_cast<std::size_t>(line)];
}

}  // namespace varimel
