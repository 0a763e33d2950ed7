#include "importhelppopup.h"

#include <QGridLayout>
#include <QLabel>

namespace calmcove {

ImportHelpPopup::ImportHelpPopup(QWidget* parent) : QFrame(parent, Qt::Popup)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->setHorizontalSpacing(14);
    layout->setVerticalSpacing(6);
    auto* heading = new QLabel(QStringLiteral("Import accepts"), this);
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    heading->setFont(headingFont);
    layout->addWidget(heading, 0, 0, 1, 2);
    const std::pair<const char*, const char*> rows[] = {
        {"Folders", "Each selected folder becomes one album."},
        {"Audio files", "Loose files become one Imported Tracks album."},
        {"Drag and drop", "Drop folders into the window or tracks into an imported album."},
        {"URLs", "Use Add URL or Import with URL for direct audio links."},
        {"Formats", "MP3, M4A, AAC, WAV, AIFF, FLAC."},
        {"Covers", "JPG, PNG, WebP."},
    };
    int row = 1;
    for (const auto& [label, text] : rows) {
        auto* name = new QLabel(QString::fromLatin1(label), this);
        QFont nameFont = name->font();
        nameFont.setWeight(QFont::DemiBold);
        name->setFont(nameFont);
        layout->addWidget(name, row, 0, Qt::AlignTop);
        layout->addWidget(new QLabel(QString::fromLatin1(text), this), row, 1);
        ++row;
    }
}

void ImportHelpPopup::showBelow(QWidget* anchor)
{
    adjustSize();
    move(anchor->mapToGlobal(QPoint(0, -height() - 4)));
    show();
}

} // namespace calmcove
