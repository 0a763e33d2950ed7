// The row menus and the popups of the player panel.

#include "advancedpresenter.h"
#include "menurow.h"
#include "nowplayingpresenter.h"
#include "optionrow.h"
#include "panelmenupresenter.h"
#include "panelpopup.h"
#include "panelstyle.h"
#include "panelwidgets.h"
#include "playerpanel.h"
#include "shortcutspresenter.h"
#include "symbols.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace calmcove {
namespace {

void addEntries(QMenu* menu, const QList<PanelEntry>& entries,
                const std::function<void(int)>& choose)
{
    for (int i = 0; i < entries.size(); ++i) {
        const PanelEntry& entry = entries[i];
        QAction* action = menu->addAction(entry.title);
        if (!entry.symbol.isEmpty())
            action->setIcon(symbolIcon(entry.symbol));
        action->setEnabled(entry.isEnabled);
        QObject::connect(action, &QAction::triggered, menu, [choose, i] { choose(i); });
    }
}

} // namespace

// ---- menus and popups

void PlayerPanel::showAlbumMenu()
{
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    addEntries(menu, m_menus->albumEntries(), [this](int i) { m_menus->chooseAlbum(i); });
    menu->addSeparator();
    const PanelEntry manage = PanelMenuPresenter::manageAlbumsEntry();
    QAction* action = menu->addAction(symbolIcon(manage.symbol), manage.title);
    connect(action, &QAction::triggered, this, [this] {
        if (m_inputs.openAlbums)
            m_inputs.openAlbums();
    });
    menu->popup(m_albumRow->mapToGlobal(QPoint(0, m_albumRow->height())));
}

void PlayerPanel::showSongMenu()
{
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QList<PanelEntry> songs = m_menus->songEntries();
    if (songs.isEmpty()) {
        menu->addAction(PanelMenuPresenter::noSongsText())->setEnabled(false);
        if (const auto cloud = m_menus->cloudTracksEntry())
            menu->addAction(symbolIcon(cloud->symbol), cloud->title)->setEnabled(false);
    }
    addEntries(menu, songs, [this](int i) { m_menus->chooseSong(i); });
    menu->popup(m_songsRow->mapToGlobal(QPoint(0, m_songsRow->height())));
}

void PlayerPanel::showTimerMenu()
{
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    addEntries(menu, PanelMenuPresenter::timerEntries(),
               [this](int i) { m_menus->chooseTimer(i); });
    menu->addSeparator();
    connect(menu->addAction(PanelMenuPresenter::cancelTimerTitle()), &QAction::triggered, this,
            [this] { m_menus->cancelTimer(); });
    menu->popup(m_timerRow->mapToGlobal(QPoint(0, m_timerRow->height())));
}

void PlayerPanel::openMoodPopup()
{
    delete m_optionsPopup.data();
    auto* popup = new PanelPopup(this);
    m_optionsPopup = popup;
    popup->setObjectName(QStringLiteral("moodPopup"));
    const QList<PanelEntry> options = m_nowPlaying->moodOptions();
    for (int i = 0; i < options.size(); ++i) {
        auto* row = new OptionRow(options[i]);
        connect(row, &OptionRow::clicked, this, [this, i, popup] {
            m_nowPlaying->chooseMood(i);
            popup->close();
        });
        popup->contentLayout()->addWidget(row);
    }
    popup->setFixedWidth(260);
    popup->popUp(m_moodButton);
}

void PlayerPanel::openKindPopup()
{
    delete m_optionsPopup.data();
    auto* popup = new PanelPopup(this);
    m_optionsPopup = popup;
    popup->setObjectName(QStringLiteral("kindPopup"));
    const QList<PanelEntry> options = m_nowPlaying->kindOptions();
    for (int i = 0; i < options.size(); ++i) {
        auto* row = new OptionRow(options[i]);
        connect(row, &OptionRow::clicked, this, [this, i, popup] {
            m_nowPlaying->chooseKind(i);
            popup->close();
        });
        popup->contentLayout()->addWidget(row);
    }
    popup->setFixedWidth(260);
    popup->popUp(m_kindButton);
}

void PlayerPanel::openShortcutsPopup()
{
    if (!m_shortcuts->hasShortcuts())
        return;
    delete m_shortcutsPopup.data();
    auto* popup = new PanelPopup(this);
    m_shortcutsPopup = popup;
    popup->setObjectName(QStringLiteral("shortcutsPopup"));
    popup->setFixedWidth(300);
    // Closing the list ends a recording.
    connect(m_shortcutsPopup, &PanelPopup::closed, m_shortcuts, &ShortcutsPresenter::stopRecording);
    rebuildShortcutsPopup();
    popup->popUp(m_shortcutsRow);
}

void PlayerPanel::rebuildShortcutsPopup()
{
    PanelPopup* popup = m_shortcutsPopup;
    if (!popup)
        return;
    popup->clearContent();
    QVBoxLayout* content = popup->contentLayout();
    auto* heading = new QLabel(ShortcutsPresenter::heading());
    QFont bold = heading->font();
    bold.setWeight(QFont::DemiBold);
    heading->setFont(bold);
    content->addWidget(heading);
    const QList<ShortcutRow> rows = m_shortcuts->rows();
    for (const ShortcutRow& row : rows) {
        const ShortcutAction action = row.action;
        auto* line = new QWidget;
        line->setObjectName(QStringLiteral("shortcutRow%1").arg(rawValue(action)));
        auto* layout = new QHBoxLayout(line);
        layout->setContentsMargins(0, 4, 0, 4);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(0);
        texts->addWidget(new QLabel(row.title));
        texts->addWidget(secondaryLabel(row.detail));
        layout->addLayout(texts, 1);
        auto* button = new QPushButton(row.buttonText);
        button->setObjectName(QStringLiteral("recordButton"));
        button->setEnabled(row.buttonEnabled);
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QPushButton::clicked, m_shortcuts,
                [this, action] { m_shortcuts->startRecording(action); });
        layout->addWidget(button);
        if (row.showsClear) {
            auto* clear =
                iconButton(QStringLiteral("xmark.circle.fill"), row.clearHelp, 14, Qt::NoFocus);
            clear->setObjectName(QStringLiteral("clearButton"));
            clear->setFocusPolicy(Qt::NoFocus);
            connect(clear, &QToolButton::clicked, m_shortcuts,
                    [this, action] { m_shortcuts->clear(action); });
            layout->addWidget(clear);
        }
        content->addWidget(line);
    }
    if (m_shortcuts->showsClearAll()) {
        content->addWidget(divider());
        auto* clearAll = new QPushButton(ShortcutsPresenter::clearAllTitle());
        clearAll->setObjectName(QStringLiteral("clearAllButton"));
        clearAll->setFocusPolicy(Qt::NoFocus);
        connect(clearAll, &QPushButton::clicked, m_shortcuts, &ShortcutsPresenter::clearAll);
        content->addWidget(clearAll);
    }
    popup->adjustSize();
}

void PlayerPanel::openAdvancedPopup()
{
    delete m_advancedPopup.data();
    auto* popup = new PanelPopup(this);
    m_advancedPopup = popup;
    popup->setObjectName(QStringLiteral("advancedPopup"));
    popup->setFixedWidth(280);
    rebuildAdvancedPopup();
    connect(m_menus, &PanelMenuPresenter::libraryChanged, m_advancedPopup,
            [this] { rebuildAdvancedPopup(); });
    popup->popUp(m_advancedRow);
}

void PlayerPanel::rebuildAdvancedPopup()
{
    PanelPopup* popup = m_advancedPopup;
    if (!popup)
        return;
    popup->clearContent();
    QVBoxLayout* content = popup->contentLayout();
    if (m_advanced->hasSettings()) {
        auto* login = new QCheckBox(QStringLiteral("Start at login"));
        login->setChecked(m_advanced->launchAtLoginEnabled());
        connect(login, &QCheckBox::toggled, m_advanced, &AdvancedPresenter::setLaunchAtLogin);
        auto* updates = new QCheckBox(QStringLiteral("Auto App Updates"));
        updates->setChecked(m_advanced->automaticUpdatesEnabled());
        connect(updates, &QCheckBox::toggled, m_advanced, &AdvancedPresenter::setAutomaticUpdates);
        auto* check =
            new MenuRow(QStringLiteral("arrow.down.circle"), QStringLiteral("Check App Update"));
        check->setTrailingSymbol({});
        connect(check, &MenuRow::clicked, m_advanced, &AdvancedPresenter::checkForAppUpdate);
        content->addWidget(login);
        content->addWidget(updates);
        content->addWidget(check);
    }
    auto* repair = new MenuRow(QStringLiteral("arrow.clockwise.icloud"),
                               QStringLiteral("Repair Track Library"));
    repair->setObjectName(QStringLiteral("repairRow"));
    repair->setTrailingSymbol({});
    repair->setEnabled(m_menus->repairEnabled());
    connect(repair, &MenuRow::clicked, m_menus, &PanelMenuPresenter::repairLibrary);
    content->addWidget(repair);
    const QStringList messages = m_advanced->messages();
    if (!messages.isEmpty())
        content->addWidget(divider());
    for (const QString& message : messages) {
        auto* label = secondaryLabel(message);
        label->setWordWrap(true);
        content->addWidget(label);
    }
    popup->adjustSize();
}

void PlayerPanel::openAboutPopup()
{
    delete m_aboutPopup.data();
    auto* popup = new PanelPopup(this);
    m_aboutPopup = popup;
    popup->setObjectName(QStringLiteral("aboutPopup"));
    QVBoxLayout* content = popup->contentLayout();
    auto* name = new QLabel(QStringLiteral("Calmcove"));
    QFont bold = name->font();
    bold.setWeight(QFont::DemiBold);
    name->setFont(bold);
    content->addWidget(name);
    content->addWidget(secondaryLabel(m_menus->versionText()));
    for (const HelpLink& link : m_menus->helpLinks()) {
        auto* button = new QPushButton(symbolIcon(QStringLiteral("arrow.up.right")), link.title);
        button->setFlat(true);
        button->setLayoutDirection(Qt::RightToLeft);
        connect(button, &QPushButton::clicked, this, [this, url = link.url] { openURL(url); });
        content->addWidget(button, 0, Qt::AlignLeft);
    }
    popup->setMinimumWidth(200);
    popup->popUp(findChild<QWidget*>(QStringLiteral("aboutRow")));
}

void PlayerPanel::openURL(const QUrl& url)
{
    if (m_inputs.openURL)
        m_inputs.openURL(url);
    else
        QDesktopServices::openUrl(url);
}

} // namespace calmcove
