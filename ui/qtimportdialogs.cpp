#include "qtimportdialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeView>

namespace calmcove {

namespace {

const QString audioFilter = QStringLiteral(
    "Audio files (*.aac *.aif *.aiff *.flac *.m4a *.mp3 *.wav *.AAC *.AIF *.AIFF *.FLAC *.M4A "
    "*.MP3 *.WAV)");

void bringToFront()
{
    if (QWidget* window = QApplication::activeWindow())
        window->raise();
}

} // namespace

QStringList QtImportDialogs::chooseImportSelection()
{
    bringToFront();
    // The native dialogs pick files or folders, never both: Qt's own dialog, told to
    // accept several of either.
    QFileDialog dialog(nullptr, QStringLiteral("Import Albums"));
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Import"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, false);
    dialog.setNameFilter(audioFilter);
    dialog.setToolTip(QStringLiteral(
        "Choose folders or audio files. Folders become albums, loose tracks become one album."));
    for (auto* view : dialog.findChildren<QAbstractItemView*>()) {
        if (qobject_cast<QListView*>(view) || qobject_cast<QTreeView*>(view))
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    }
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
}

QStringList QtImportDialogs::chooseTracksToAdd()
{
    bringToFront();
    return QFileDialog::getOpenFileNames(nullptr, QStringLiteral("Add Tracks"), QString(),
                                         audioFilter);
}

QString QtImportDialogs::chooseArtwork()
{
    bringToFront();
    return QFileDialog::getOpenFileName(
        nullptr, QStringLiteral("Change Artwork"), QString(),
        QStringLiteral("Images (*.jpg *.jpeg *.png *.webp *.JPG *.JPEG *.PNG *.WEBP)"));
}

DuplicateResolution QtImportDialogs::confirmDuplicateImport(int count, const QString& sampleTitle,
                                                            const QString& albumName)
{
    QMessageBox alert(QMessageBox::Warning, QStringLiteral("Calmcove"), QString());
    QPushButton* replace = nullptr;
    QPushButton* skip = nullptr;
    if (count == 1) {
        alert.setText(QStringLiteral("\"%1\" is already in %2.").arg(sampleTitle, albumName));
        alert.setInformativeText(
            QStringLiteral("Replace the existing local file or skip this import?"));
        replace = alert.addButton(QStringLiteral("Replace"), QMessageBox::AcceptRole);
        skip = alert.addButton(QStringLiteral("Skip"), QMessageBox::RejectRole);
    } else {
        alert.setText(QStringLiteral("%1 tracks are already in %2.").arg(count).arg(albumName));
        alert.setInformativeText(
            QStringLiteral("Replace the existing local files or skip the duplicates?"));
        replace = alert.addButton(QStringLiteral("Replace Duplicates"), QMessageBox::AcceptRole);
        skip = alert.addButton(QStringLiteral("Skip Duplicates"), QMessageBox::RejectRole);
    }
    alert.addButton(QMessageBox::Cancel);
    alert.exec();
    if (alert.clickedButton() == replace)
        return DuplicateResolution::replace;
    if (alert.clickedButton() == skip)
        return DuplicateResolution::skip;
    return DuplicateResolution::cancel;
}

} // namespace calmcove
