#include "qtalbummanagerdialogs.h"

#include "symbols.h"

#include <QFileDialog>
#include <QImageReader>
#include <QMessageBox>
#include <QPushButton>

namespace calmcove {

namespace {

// A question with a destructive button, which is not the default: Return cancels.
bool confirmDestructive(QWidget* parent, const QString& title, const QString& message,
                        const QString& destructiveLabel)
{
    QMessageBox alert(QMessageBox::Warning, title, title, QMessageBox::NoButton, parent);
    alert.setInformativeText(message);
    QPushButton* destroy = alert.addButton(destructiveLabel, QMessageBox::DestructiveRole);
    QPushButton* cancel = alert.addButton(QMessageBox::Cancel);
    alert.setDefaultButton(cancel);
    alert.setEscapeButton(cancel);
    markDestructive(*destroy);
    QFont bold = destroy->font();
    bold.setWeight(QFont::DemiBold);
    destroy->setFont(bold);
    alert.exec();
    return alert.clickedButton() == destroy;
}

} // namespace

bool QtAlbumManagerDialogs::confirmDeleteAlbum(const QString&)
{
    return confirmDestructive(m_parent, QStringLiteral("Delete this album?"),
                              QStringLiteral("This removes the album and its local files from "
                                             "Calmcove."),
                              QStringLiteral("Delete Album"));
}

bool QtAlbumManagerDialogs::confirmDeleteTracks(int)
{
    return confirmDestructive(m_parent, QStringLiteral("Delete selected tracks?"),
                              QStringLiteral("This removes the selected local files from this "
                                             "album."),
                              QStringLiteral("Delete Tracks"));
}

QString QtAlbumManagerDialogs::chooseNewAlbumArtwork()
{
    QStringList patterns;
    for (const QByteArray& format : QImageReader::supportedImageFormats())
        patterns << QStringLiteral("*.") + QString::fromLatin1(format);
    QFileDialog dialog(m_parent, QStringLiteral("Choose Artwork"));
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Choose"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("Images (%1)").arg(patterns.join(QLatin1Char(' '))));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace calmcove
