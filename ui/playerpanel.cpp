#include "playerpanel.h"

#include "advancedpresenter.h"
#include "albumartworkview.h"
#include "app/calmcoveruntime.h"
#include "librarystatuspresenter.h"
#include "menurow.h"
#include "nowplayingpresenter.h"
#include "optionrow.h"
#include "panelmenupresenter.h"
#include "panelpopup.h"
#include "panelstyle.h"
#include "panelwidgets.h"
#include "shortcutspresenter.h"
#include "symbols.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace calmcove {
namespace {

void setSymbol(QLabel* label, const QString& symbol, int size, const QColor& colour = {})
{
    const QIcon icon = colour.isValid() ? symbolIcon(symbol, colour) : symbolIcon(symbol);
    label->setPixmap(icon.pixmap(QSize(size, size), label->devicePixelRatioF()));
}

} // namespace

PlayerPanelInputs PlayerPanelInputs::of(CalmcoveRuntime& runtime)
{
    PlayerPanelInputs inputs;
    inputs.controller = &runtime.controller();
    inputs.albumStore = &runtime.albumStore();
    inputs.audioPackStore = &runtime.audioPackStore();
    inputs.appSettings = &runtime.appSettings();
    inputs.updateChecker = &runtime.appStoreVersionChecker();
    inputs.shortcutManager = &runtime.shortcutManager();
    return inputs;
}

PlayerPanel::PlayerPanel(const PlayerPanelInputs& inputs, Presentation presentation,
                         QWidget* parent)
    : QFrame(parent, presentation == Presentation::popup ? Qt::Popup : Qt::Window),
      m_presentation(presentation), m_inputs(inputs),
      m_nowPlaying(new NowPlayingPresenter(*inputs.controller, *inputs.albumStore, this)),
      m_libraryStatus(new LibraryStatusPresenter(*inputs.audioPackStore, *inputs.albumStore, this)),
      m_menus(new PanelMenuPresenter(*inputs.controller, *inputs.albumStore, *inputs.audioPackStore,
                                     inputs.websiteURL, inputs.appVersion, this)),
      m_advanced(new AdvancedPresenter(inputs.appSettings, inputs.updateChecker, this)),
      m_shortcuts(new ShortcutsPresenter(inputs.shortcutManager, this))
{
    setObjectName(QStringLiteral("PlayerPanel"));
    setWindowTitle(QStringLiteral("Calmcove"));
    setFrameShape(presentation == Presentation::popup ? QFrame::StyledPanel : QFrame::NoFrame);
    setAutoFillBackground(true);
    setFixedWidth(PanelStyle::panelWidth);
    // The panel itself holds the focus at first, so Space is not taken by a button.
    setFocusPolicy(Qt::StrongFocus);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 10);
    layout->setSpacing(10);
    layout->addWidget(buildHeader());
    layout->addWidget(buildTransport());
    layout->addWidget(buildProgress());
    layout->addWidget(buildVolume());
    layout->addWidget(buildBanner());
    layout->addWidget(buildMenuRows());
    layout->addWidget(buildQuitSection());

    connect(m_nowPlaying, &NowPlayingPresenter::headerChanged, this, &PlayerPanel::bindHeader);
    connect(m_nowPlaying, &NowPlayingPresenter::transportChanged, this,
            &PlayerPanel::bindTransport);
    connect(m_nowPlaying, &NowPlayingPresenter::clockChanged, this, &PlayerPanel::bindClock);
    connect(m_nowPlaying, &NowPlayingPresenter::sleepChanged, this, &PlayerPanel::bindSleep);
    connect(m_nowPlaying, &NowPlayingPresenter::volumeChanged, this, &PlayerPanel::bindVolume);
    connect(m_libraryStatus, &LibraryStatusPresenter::changed, this, &PlayerPanel::bindBanner);
    for (auto signal : {&PanelMenuPresenter::albumsChanged, &PanelMenuPresenter::songsChanged,
                        &PanelMenuPresenter::timerChanged, &PanelMenuPresenter::libraryChanged})
        connect(m_menus, signal, this, &PlayerPanel::bindRows);
    connect(m_advanced, &AdvancedPresenter::changed, this, [this] {
        bindRows();
        rebuildAdvancedPopup();
    });
    connect(m_shortcuts, &ShortcutsPresenter::changed, this, [this] {
        bindRows();
        rebuildShortcutsPopup();
    });
    connect(m_shortcuts, &ShortcutsPresenter::beepRequested, this, [] { QApplication::beep(); });

    bindHeader();
    bindTransport();
    bindClock();
    bindSleep();
    bindVolume();
    bindBanner();
    bindRows();
    qApp->installEventFilter(this);
}

PlayerPanel::~PlayerPanel()
{
    qApp->removeEventFilter(this);
}

// ---- sections

QWidget* PlayerPanel::buildHeader()
{
    auto* header = new QWidget;
    auto* column = new QVBoxLayout(header);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    auto* top = new QHBoxLayout;
    top->setSpacing(12);
    m_artwork = new AlbumArtworkView;
    m_artwork->setFixedSize(56, 56);
    top->addWidget(m_artwork);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    auto* appName = secondaryLabel(QStringLiteral("Calmcove"));
    QFont small = appName->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    appName->setFont(small);
    m_trackTitle = new QLabel;
    m_trackTitle->setObjectName(QStringLiteral("trackTitle"));
    QFont bold = m_trackTitle->font();
    bold.setWeight(QFont::DemiBold);
    bold.setPointSizeF(bold.pointSizeF() * 1.1);
    m_trackTitle->setFont(bold);
    m_albumName = secondaryLabel();
    m_albumName->setObjectName(QStringLiteral("albumName"));
    texts->addWidget(appName);
    texts->addWidget(m_trackTitle);
    texts->addWidget(m_albumName);
    top->addLayout(texts, 1);
    m_badge = new QLabel;
    m_badge->setObjectName(QStringLiteral("playbackBadge"));
    m_badge->setAlignment(Qt::AlignCenter);
    m_badge->setFont(small);
    m_badge->setContentsMargins(8, 2, 8, 2);
    top->addWidget(m_badge, 0, Qt::AlignTop);
    column->addLayout(top);

    m_filters = new QWidget;
    auto* filters = new QHBoxLayout(m_filters);
    filters->setContentsMargins(0, 0, 0, 0);
    filters->setSpacing(8);
    for (QToolButton** button : {&m_moodButton, &m_kindButton}) {
        *button = new QToolButton;
        (*button)->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        (*button)->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        (*button)->setIconSize(QSize(16, 16));
        (*button)->setFocusPolicy(Qt::TabFocus);
        filters->addWidget(*button);
    }
    m_moodButton->setObjectName(QStringLiteral("moodButton"));
    m_kindButton->setObjectName(QStringLiteral("kindButton"));
    connect(m_moodButton, &QToolButton::clicked, this, &PlayerPanel::openMoodPopup);
    connect(m_kindButton, &QToolButton::clicked, this, &PlayerPanel::openKindPopup);
    column->addWidget(m_filters);
    return header;
}

QWidget* PlayerPanel::buildTransport()
{
    auto* transport = new QWidget;
    auto* row = new QHBoxLayout(transport);
    row->setContentsMargins(0, 0, 0, 0);
    auto* previous = iconButton(QStringLiteral("backward.fill"), QStringLiteral("Previous"));
    m_playPause = iconButton(QStringLiteral("play.fill"), QStringLiteral("Play"), 26);
    m_playPause->setObjectName(QStringLiteral("playPauseButton"));
    auto* next = iconButton(QStringLiteral("forward.fill"), QStringLiteral("Next"));
    m_shuffle = iconButton(QStringLiteral("shuffle"), QStringLiteral("Shuffle"), 16);
    m_shuffle->setObjectName(QStringLiteral("shuffleButton"));
    m_shuffle->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    QFont small = m_shuffle->font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    m_shuffle->setFont(small);
    auto* stop = iconButton(QStringLiteral("stop.fill"), QStringLiteral("Stop"));
    connect(previous, &QToolButton::clicked, m_nowPlaying, &NowPlayingPresenter::previous);
    connect(m_playPause, &QToolButton::clicked, m_nowPlaying,
            &NowPlayingPresenter::togglePlayPause);
    connect(next, &QToolButton::clicked, m_nowPlaying, &NowPlayingPresenter::next);
    connect(m_shuffle, &QToolButton::clicked, m_nowPlaying, &NowPlayingPresenter::toggleShuffle);
    connect(stop, &QToolButton::clicked, m_nowPlaying, &NowPlayingPresenter::stop);
    row->addStretch();
    for (QToolButton* button : {previous, m_playPause, next, m_shuffle, stop}) {
        row->addWidget(button);
        row->addStretch();
    }
    return transport;
}

QWidget* PlayerPanel::buildProgress()
{
    auto* progress = new QWidget;
    auto* column = new QVBoxLayout(progress);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    m_progress = slider(QStringLiteral("progressSlider"), QStringLiteral("Progress"), 1000);
    connect(m_progress, &QSlider::sliderReleased, this,
            [this] { m_nowPlaying->seek(m_progress->value() / 1000.0); });
    column->addWidget(m_progress);
    auto* times = new QHBoxLayout;
    m_time = secondaryLabel();
    m_time->setObjectName(QStringLiteral("displayTime"));
    times->addWidget(m_time);
    times->addStretch();
    m_sleepIcon = new QLabel;
    setSymbol(m_sleepIcon, QStringLiteral("timer"), 12);
    m_sleepTime = secondaryLabel();
    m_sleepTime->setObjectName(QStringLiteral("sleepRemaining"));
    times->addWidget(m_sleepIcon);
    times->addWidget(m_sleepTime);
    column->addLayout(times);
    return progress;
}

QWidget* PlayerPanel::buildVolume()
{
    auto* volume = new QWidget;
    auto* row = new QHBoxLayout(volume);
    row->setContentsMargins(0, 0, 0, 0);
    auto* icon = new QLabel;
    setSymbol(icon, QStringLiteral("speaker.wave.2.fill"), 16);
    m_volume = slider(QStringLiteral("volumeSlider"), QStringLiteral("Volume"), 100);
    connect(m_volume, &QSlider::valueChanged, this, [this](int value) {
        if (qRound(m_nowPlaying->volume() * 100) != value)
            m_nowPlaying->setVolume(value / 100.0);
    });
    m_volumeText = secondaryLabel();
    m_volumeText->setObjectName(QStringLiteral("volumeText"));
    m_volumeText->setMinimumWidth(
        m_volumeText->fontMetrics().horizontalAdvance(QStringLiteral("100%")));
    m_volumeText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(icon);
    row->addWidget(m_volume, 1);
    row->addWidget(m_volumeText);
    return volume;
}

QWidget* PlayerPanel::buildBanner()
{
    m_banner = new QFrame;
    m_banner->setObjectName(QStringLiteral("libraryBanner"));
    auto* row = new QHBoxLayout(m_banner);
    row->setContentsMargins(10, 8, 10, 8);
    row->setSpacing(10);
    m_bannerIcon = new QLabel;
    row->addWidget(m_bannerIcon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_bannerTitle = new QLabel;
    QFont bold = m_bannerTitle->font();
    bold.setWeight(QFont::DemiBold);
    m_bannerTitle->setFont(bold);
    m_bannerTitle->setWordWrap(true);
    m_bannerDetail = secondaryLabel();
    m_bannerDetail->setWordWrap(true);
    m_bannerNotice = secondaryLabel();
    m_bannerNotice->setObjectName(QStringLiteral("libraryNotice"));
    m_bannerNotice->setWordWrap(true);
    QFont small = m_bannerNotice->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    m_bannerNotice->setFont(small);
    m_bannerDetail->setFont(small);
    texts->addWidget(m_bannerTitle);
    texts->addWidget(m_bannerDetail);
    texts->addWidget(m_bannerNotice);
    m_retry = new QPushButton(QStringLiteral("Retry"));
    m_retry->setObjectName(QStringLiteral("retryButton"));
    m_retry->setFocusPolicy(Qt::TabFocus);
    connect(m_retry, &QPushButton::clicked, m_libraryStatus, &LibraryStatusPresenter::retry);
    texts->addWidget(m_retry, 0, Qt::AlignLeft);
    row->addLayout(texts, 1);
    return m_banner;
}

QWidget* PlayerPanel::buildMenuRows()
{
    auto* rows = new QWidget;
    auto* column = new QVBoxLayout(rows);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_albumRow = new MenuRow(QStringLiteral("rectangle.stack.fill"), QStringLiteral("Album"));
    m_songsRow = new MenuRow(QStringLiteral("music.note.list"), QStringLiteral("Song list"));
    m_shortcutsRow = new MenuRow(QStringLiteral("keyboard"), QStringLiteral("Shortcuts"));
    m_timerRow = new MenuRow(QStringLiteral("timer"), QStringLiteral("Timer"));
    m_advancedRow = new MenuRow(QStringLiteral("slider.horizontal.3"), QStringLiteral("Advanced"));
    m_albumRow->setObjectName(QStringLiteral("albumRow"));
    m_songsRow->setObjectName(QStringLiteral("songsRow"));
    m_shortcutsRow->setObjectName(QStringLiteral("shortcutsRow"));
    m_timerRow->setObjectName(QStringLiteral("timerRow"));
    m_advancedRow->setObjectName(QStringLiteral("advancedRow"));
    connect(m_albumRow, &MenuRow::clicked, this, &PlayerPanel::showAlbumMenu);
    connect(m_songsRow, &MenuRow::clicked, this, &PlayerPanel::showSongMenu);
    connect(m_shortcutsRow, &MenuRow::clicked, this, &PlayerPanel::openShortcutsPopup);
    connect(m_timerRow, &MenuRow::clicked, this, &PlayerPanel::showTimerMenu);
    connect(m_advancedRow, &MenuRow::clicked, this, &PlayerPanel::openAdvancedPopup);
    for (MenuRow* row : {m_albumRow, m_songsRow, m_shortcutsRow, m_timerRow, m_advancedRow})
        column->addWidget(row);
    m_shortcutsRow->setVisible(m_shortcuts->hasShortcuts());
    return rows;
}

QWidget* PlayerPanel::buildQuitSection()
{
    auto* section = new QWidget;
    auto* column = new QVBoxLayout(section);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(divider());
    auto* about =
        new MenuRow(QStringLiteral("questionmark.circle.fill"), QStringLiteral("About & Help"));
    about->setObjectName(QStringLiteral("aboutRow"));
    connect(about, &MenuRow::clicked, this, &PlayerPanel::openAboutPopup);
    auto* quit = new MenuRow(QStringLiteral("power"), QStringLiteral("Quit Calmcove"));
    quit->setObjectName(QStringLiteral("quitRow"));
    quit->setTrailingSymbol({});
    connect(quit, &MenuRow::clicked, this, [this] {
        if (m_inputs.quit)
            m_inputs.quit();
        else
            QCoreApplication::quit();
    });
    column->addWidget(about);
    column->addWidget(quit);
    return section;
}

// ---- binding

void PlayerPanel::bindHeader()
{
    m_artwork->setArtwork(m_nowPlaying->artwork());
    const QFontMetrics metrics(m_trackTitle->font());
    m_trackTitle->setText(metrics.elidedText(m_nowPlaying->trackTitle(), Qt::ElideRight, 180));
    m_trackTitle->setToolTip(m_nowPlaying->trackTitle());
    m_albumName->setText(
        m_albumName->fontMetrics().elidedText(m_nowPlaying->albumName(), Qt::ElideRight, 180));
    m_badge->setText(m_nowPlaying->badgeText());
    QColor badge = palette().color(QPalette::Highlight);
    if (m_badge->text() != QLatin1String("Playing"))
        badge = PanelStyle::secondaryText(palette());
    m_badge->setStyleSheet(QStringLiteral("QLabel { color: %1; border: 1px solid %1; "
                                          "border-radius: 9px; }")
                               .arg(badge.name(QColor::HexArgb)));
    m_filters->setVisible(m_nowPlaying->showsFilterButtons());
    const PanelEntry mood = m_nowPlaying->moodButton();
    const PanelEntry kind = m_nowPlaying->kindButton();
    m_moodButton->setText(mood.title + QStringLiteral(": ") + mood.subtitle);
    m_moodButton->setIcon(ownSymbolIcon(mood.symbol));
    m_kindButton->setText(kind.title + QStringLiteral(": ") + kind.subtitle);
    m_kindButton->setIcon(ownSymbolIcon(kind.symbol));
}

void PlayerPanel::bindTransport()
{
    m_playPause->setIcon(symbolIcon(m_nowPlaying->playPauseSymbol()));
    m_playPause->setToolTip(m_nowPlaying->playPauseTitle());
    m_playPause->setAccessibleName(m_nowPlaying->playPauseTitle());
    m_shuffle->setText(m_nowPlaying->shuffleCaption());
    m_shuffle->setToolTip(m_nowPlaying->shuffleHelp());
}

void PlayerPanel::bindClock()
{
    // Only what changed repaints: the slider and the label skip equal values.
    if (!m_progress->isSliderDown())
        m_progress->setValue(qRound(m_nowPlaying->progress() * 1000));
    m_time->setText(m_nowPlaying->displayTime());
}

void PlayerPanel::bindSleep()
{
    const bool shows = m_nowPlaying->showsSleepRemaining();
    m_sleepIcon->setVisible(shows);
    m_sleepTime->setVisible(shows);
    m_sleepTime->setText(m_nowPlaying->sleepRemainingText());
    m_timerRow->setValue(m_menus->timerValue());
}

void PlayerPanel::bindVolume()
{
    m_volume->setValue(qRound(m_nowPlaying->volume() * 100));
    m_volumeText->setText(m_nowPlaying->volumeText());
}

void PlayerPanel::bindBanner()
{
    const bool visible = m_libraryStatus->isVisible();
    if (visible != m_banner->isVisibleTo(this)) {
        m_banner->setVisible(visible);
        // The panel's height follows the banner; its width stays fixed.
        adjustSize();
    }
    if (!visible)
        return;
    const QColor tone = PanelStyle::toneColour(m_libraryStatus->tone());
    QColor background = tone;
    background.setAlphaF(0.14f);
    m_banner->setStyleSheet(QStringLiteral("#libraryBanner { background: %1; border-radius: 8px; }")
                                .arg(background.name(QColor::HexArgb)));
    setSymbol(m_bannerIcon, m_libraryStatus->symbol(), 20, tone);
    m_bannerTitle->setText(m_libraryStatus->title());
    m_bannerDetail->setText(m_libraryStatus->detail());
    m_bannerDetail->setVisible(!m_libraryStatus->detail().isEmpty());
    m_bannerNotice->setText(m_libraryStatus->notice());
    m_bannerNotice->setVisible(!m_libraryStatus->notice().isEmpty());
    m_retry->setVisible(m_libraryStatus->showsRetry());
}

void PlayerPanel::bindRows()
{
    m_albumRow->setValue(m_menus->albumValue());
    m_songsRow->setValue(m_menus->songsValue());
    m_shortcutsRow->setValue(m_shortcuts->summary());
    m_timerRow->setValue(m_menus->timerValue());
    m_advancedRow->setValue(m_advanced->summary());
}

// ---- keyboard and closing

bool PlayerPanel::belongsToPanel(QObject* object) const
{
    auto* widget = qobject_cast<QWidget*>(object);
    for (QWidget* window = widget ? widget->window() : nullptr; window;
         window = window->parentWidget() ? window->parentWidget()->window() : nullptr) {
        if (window == this)
            return true;
    }
    return false;
}

bool PlayerPanel::handleKeyPress(QObject* target, QKeyEvent* event)
{
    if (!belongsToPanel(target))
        return false;
    // While a shortcut is recorded, the recording takes every key first.
    if (event->key() != Qt::Key_Space)
        return false;
    auto* widget = qobject_cast<QWidget*>(target);
    if (widget->window() != this || !isActiveWindow())
        return false;
    constexpr Qt::KeyboardModifiers held =
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if (event->modifiers() & held)
        return false;
    QWidget* focus = QApplication::focusWidget();
    if (qobject_cast<QLineEdit*>(focus) || qobject_cast<QTextEdit*>(focus) ||
        qobject_cast<QPlainTextEdit*>(focus) || qobject_cast<QAbstractSpinBox*>(focus))
        return false;
    if (!event->isAutoRepeat())
        m_nowPlaying->togglePlayPause();
    return true;
}

bool PlayerPanel::eventFilter(QObject* watched, QEvent* event)
{
    // Key events are offered once per receiving widget; only the first delivery (to the
    // focus widget or window) is judged.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        (watched == QApplication::focusWidget() || watched == QApplication::activePopupWidget() ||
         !QApplication::focusWidget()))
        return handleKeyPress(watched, static_cast<QKeyEvent*>(event));
    return QFrame::eventFilter(watched, event);
}

void PlayerPanel::showEvent(QShowEvent* event)
{
    QFrame::showEvent(event);
    m_closedByOutsideClick = false;
    m_advanced->refresh();
}

void PlayerPanel::hideEvent(QHideEvent* event)
{
    QFrame::hideEvent(event);
    m_shortcuts->stopRecording();
    Q_EMIT closed(m_closedByOutsideClick);
}

void PlayerPanel::mousePressEvent(QMouseEvent* event)
{
    // A popup receives the press that lands outside it, and closes.
    if (m_presentation == Presentation::popup && !rect().contains(event->position().toPoint()))
        m_closedByOutsideClick = true;
    QFrame::mousePressEvent(event);
}

} // namespace calmcove
