#include "createalbumdialog.h"

#include "albumartworkview.h"
#include "albummanagerdialogs.h"
#include "albummanagerviewmodel.h"
#include "symbols.h"

#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace calmcove {

CreateAlbumDialog::CreateAlbumDialog(AlbumManagerViewModel& viewModel, AlbumManagerDialogs& dialogs,
                                     QWidget* parent)
    : QDialog(parent), m_viewModel(viewModel), m_dialogs(dialogs), m_name(new QLineEdit(this)),
      m_artwork(new AlbumArtworkView(this)), m_chooseArtwork(new QPushButton(this))
{
    setWindowTitle(QStringLiteral("New Album"));
    setModal(true);
    auto* heading = new QLabel(QStringLiteral("New Album"), this);
    QFont headingFont = heading->font();
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.3);
    headingFont.setBold(true);
    heading->setFont(headingFont);

    m_name->setPlaceholderText(QStringLiteral("Album name"));
    m_name->setMinimumWidth(260);
    m_artwork->setFixedSize(96, 96);
    m_chooseArtwork->setText(QStringLiteral("Choose Artwork"));
    m_chooseArtwork->setToolTip(QStringLiteral("Choose album artwork"));
    m_chooseArtwork->setIcon(
        symbolIcon(QStringLiteral("photo"), palette().color(QPalette::ButtonText)));
    connect(m_chooseArtwork, &QPushButton::clicked, this, [this] {
        const QString path = m_dialogs.chooseNewAlbumArtwork();
        if (!path.isEmpty())
            setArtworkPath(path);
    });

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    auto* createButton = new QPushButton(QStringLiteral("Create"), this);
    createButton->setDefault(true);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(createButton, &QPushButton::clicked, this, &CreateAlbumDialog::create);

    auto* artworkColumn = new QVBoxLayout;
    artworkColumn->addWidget(m_artwork, 0, Qt::AlignHCenter);
    artworkColumn->addWidget(m_chooseArtwork);
    auto* fields = new QHBoxLayout;
    fields->addLayout(artworkColumn);
    fields->addSpacing(12);
    fields->addWidget(m_name, 1, Qt::AlignVCenter);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(createButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 18);
    layout->setSpacing(14);
    layout->addWidget(heading);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    m_name->setFocus();
}

void CreateAlbumDialog::setArtworkPath(const QString& path)
{
    m_artworkPath = path;
    m_artwork->setArtwork(FileArtwork{path});
    m_chooseArtwork->setText(QStringLiteral("Change Artwork"));
}

void CreateAlbumDialog::create()
{
    if (m_viewModel.createAlbum(m_name->text(), m_artworkPath))
        accept();
}

} // namespace calmcove
