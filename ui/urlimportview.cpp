#include "urlimportview.h"

#include "albums/albumstore.h"
#include "symbols.h"
#include "urlimportjoblistmodel.h"
#include "urlimportviewmodel.h"

#include <QBoxLayout>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>

namespace calmcove {

namespace {

struct StateLook
{
    const char* symbol;
    QColor color;
};

StateLook lookOf(URLImportJob::State state, const QPalette& palette)
{
    switch (state) {
    case URLImportJob::State::queued:
        return {"clock", palette.color(QPalette::PlaceholderText)};
    case URLImportJob::State::importing:
        return {"arrow.down.circle", QColor(0x0a, 0x84, 0xff)};
    case URLImportJob::State::finished:
        return {"checkmark.circle", QColor(0x30, 0xb0, 0x50)};
    case URLImportJob::State::failed:
        return {"exclamationmark.triangle", QColor(0xe0, 0x30, 0x30)};
    }
    return {"clock", palette.color(QPalette::Text)};
}

// One job: state icon, title, message, and while importing a bar with its text.
class JobDelegate : public QStyledItemDelegate
{
public:
    explicit JobDelegate(QObject* parent) : QStyledItemDelegate(parent) { m_clock.start(); }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const int line = option.fontMetrics.height();
        int height = 8 + line;
        if (!index.data(URLImportJobListModel::MessageRole).toString().isEmpty())
            height += line;
        if (isImporting(index))
            height += 10 + line;
        return {option.rect.width(), height + 8};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QPalette& palette = option.palette;
        const auto state =
            URLImportJob::State(index.data(URLImportJobListModel::StateRole).toInt());
        const StateLook look = lookOf(state, palette);
        const int line = option.fontMetrics.height();
        QRect area = option.rect.adjusted(6, 4, -6, -4);
        const QIcon icon = symbolIcon(QString::fromLatin1(look.symbol), look.color);
        icon.paint(painter, QRect(area.left(), area.top() + (line - 16) / 2, 16, 16));
        area.setLeft(area.left() + 24);

        QFont titleFont = option.font;
        titleFont.setWeight(QFont::DemiBold);
        painter->setFont(titleFont);
        painter->setPen(palette.color(QPalette::Text));
        const QString title = index.data(Qt::DisplayRole).toString();
        painter->drawText(QRect(area.left(), area.top(), area.width(), line),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(titleFont).elidedText(title, Qt::ElideMiddle, area.width()));
        int y = area.top() + line;
        painter->setFont(option.font);
        const QString message = index.data(URLImportJobListModel::MessageRole).toString();
        if (!message.isEmpty()) {
            painter->setPen(state == URLImportJob::State::failed
                                ? QColor(0xe0, 0x30, 0x30)
                                : palette.color(QPalette::PlaceholderText));
            painter->drawText(QRect(area.left(), y, area.width(), line),
                              Qt::AlignLeft | Qt::AlignVCenter,
                              option.fontMetrics.elidedText(message, Qt::ElideRight, area.width()));
            y += line;
        }
        if (isImporting(index)) {
            const QRectF track(area.left(), y + 4, area.width(), 5);
            painter->setPen(Qt::NoPen);
            painter->setBrush(palette.color(QPalette::Mid));
            painter->drawRoundedRect(track, 2.5, 2.5);
            painter->setBrush(QColor(0x0a, 0x84, 0xff));
            const QVariant progress = index.data(URLImportJobListModel::ProgressRole);
            if (progress.isValid()) {
                QRectF done = track;
                done.setWidth(track.width() * std::clamp(progress.toDouble(), 0.0, 1.0));
                painter->drawRoundedRect(done, 2.5, 2.5);
            } else {
                // Unknown length: a segment that keeps sweeping across.
                const double phase = double(m_clock.elapsed() % 1400) / 1400.0;
                const double segment = track.width() * 0.3;
                const double left = track.left() - segment + phase * (track.width() + segment);
                painter->setClipRect(track);
                painter->drawRoundedRect(QRectF(left, track.top(), segment, track.height()), 2.5,
                                         2.5);
                painter->setClipping(false);
            }
            const QVariant text = index.data(URLImportJobListModel::ProgressTextRole);
            if (text.isValid()) {
                painter->setPen(palette.color(QPalette::PlaceholderText));
                painter->drawText(QRect(area.left(), y + 10, area.width(), line),
                                  Qt::AlignLeft | Qt::AlignVCenter, text.toString());
            }
        }
        painter->restore();
    }

private:
    static bool isImporting(const QModelIndex& index)
    {
        return URLImportJob::State(index.data(URLImportJobListModel::StateRole).toInt()) ==
               URLImportJob::State::importing;
    }

    QElapsedTimer m_clock;
};

} // namespace

URLImportView::URLImportView(AlbumStore* albumStore, QWidget* parent)
    : QWidget(parent), m_viewModel(new URLImportViewModel(albumStore, this)),
      m_jobModel(new URLImportJobListModel(albumStore, this)), m_summary(new QLabel(this)),
      m_field(new QLineEdit(this)), m_import(new QPushButton(QStringLiteral("Import"), this)),
      m_caption(new QLabel(URLImportViewModel::emptyCaption, this)),
      m_jobsHeader(new QWidget(this)),
      m_clearDone(new QPushButton(QStringLiteral("Clear Done"), m_jobsHeader)),
      m_jobs(new QListView(this))
{
    const QColor text = palette().color(QPalette::WindowText);
    const QColor secondary = palette().color(QPalette::PlaceholderText);

    auto* title = new QLabel(URLImportViewModel::title, this);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.15);
    title->setFont(titleFont);
    m_summary->setWordWrap(true);
    m_summary->setStyleSheet(QStringLiteral("color: %1;").arg(secondary.name()));
    auto* close = new QToolButton(this);
    close->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill"), secondary));
    close->setToolTip(QStringLiteral("Close"));
    close->setAutoRaise(true);
    connect(close, &QToolButton::clicked, this, &URLImportView::closeRequested);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(title);
    titles->addWidget(m_summary);
    auto* header = new QHBoxLayout;
    header->addLayout(titles, 1);
    header->addWidget(close, 0, Qt::AlignTop);

    auto* linkIcon = new QLabel(this);
    linkIcon->setPixmap(symbolIcon(QStringLiteral("link"), secondary).pixmap(16, 16));
    m_field->setPlaceholderText(QStringLiteral("Direct audio URL"));
    m_field->setClearButtonEnabled(true);
    m_import->setIcon(symbolIcon(QStringLiteral("arrow.down.circle"), text));
    m_import->setDefault(true);
    auto* input = new QHBoxLayout;
    input->addWidget(linkIcon);
    input->addWidget(m_field, 1);
    input->addWidget(m_import);

    m_caption->setWordWrap(true);
    m_caption->setStyleSheet(QStringLiteral("color: %1;").arg(secondary.name()));
    auto* importsTitle = new QLabel(QStringLiteral("Imports"), m_jobsHeader);
    QFont importsFont = importsTitle->font();
    importsFont.setBold(true);
    importsTitle->setFont(importsFont);
    auto* jobsHeaderLayout = new QHBoxLayout(m_jobsHeader);
    jobsHeaderLayout->setContentsMargins(0, 0, 0, 0);
    jobsHeaderLayout->addWidget(importsTitle, 1);
    jobsHeaderLayout->addWidget(m_clearDone);

    m_jobs->setModel(m_jobModel);
    m_jobs->setItemDelegate(new JobDelegate(m_jobs));
    m_jobs->setSelectionMode(QAbstractItemView::NoSelection);
    m_jobs->setFocusPolicy(Qt::NoFocus);
    m_jobs->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_jobs->setUniformItemSizes(false);
    m_jobs->setMaximumHeight(maximumJobListHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->setSpacing(10);
    layout->addLayout(header);
    layout->addLayout(input);
    layout->addWidget(m_caption);
    layout->addWidget(m_jobsHeader);
    layout->addWidget(m_jobs);

    connect(m_field, &QLineEdit::textChanged, m_viewModel, &URLImportViewModel::setImportURL);
    connect(m_field, &QLineEdit::returnPressed, m_viewModel,
            &URLImportViewModel::importURLIfNeeded);
    connect(m_import, &QPushButton::clicked, m_viewModel, &URLImportViewModel::importURLIfNeeded);
    connect(m_clearDone, &QPushButton::clicked, m_viewModel, &URLImportViewModel::clearDone);
    connect(m_viewModel, &URLImportViewModel::importURLChanged, this, [this] {
        if (m_field->text() != m_viewModel->importURL())
            m_field->setText(m_viewModel->importURL());
        refresh();
    });
    connect(m_viewModel, &URLImportViewModel::focusRequested, this,
            [this] { m_field->setFocus(Qt::OtherFocusReason); });
    connect(m_viewModel, &URLImportViewModel::targetSummaryChanged, this, &URLImportView::refresh);
    connect(m_viewModel, &URLImportViewModel::jobsChanged, this, &URLImportView::refresh);

    // Bars without a known length keep moving while such a job runs.
    auto* animation = new QTimer(this);
    animation->setInterval(40);
    connect(animation, &QTimer::timeout, m_jobs->viewport(), qOverload<>(&QWidget::update));
    connect(m_viewModel, &URLImportViewModel::jobsChanged, this, [this, animation] {
        if (m_jobModel->hasIndeterminateProgress())
            animation->start();
        else
            animation->stop();
    });
    refresh();
    m_viewModel->focusURLField();
}

void URLImportView::refresh()
{
    m_summary->setText(m_viewModel->targetSummary());
    m_import->setEnabled(m_viewModel->canImport());
    const bool hasJobs = m_viewModel->hasJobs();
    m_caption->setVisible(!hasJobs);
    m_jobsHeader->setVisible(hasJobs);
    m_jobs->setVisible(hasJobs);
    m_clearDone->setEnabled(m_viewModel->canClearDone());
    fitJobListHeight();
}

void URLImportView::fitJobListHeight()
{
    int height = 2 * m_jobs->frameWidth();
    for (int row = 0; row < m_jobModel->rowCount() && height < maximumJobListHeight; ++row)
        height += m_jobs->sizeHintForRow(row);
    m_jobs->setFixedHeight(std::min(height, int(maximumJobListHeight)));
    if (QWidget* window = this->window(); window && window != this)
        window->adjustSize();
}

URLImportPopup::URLImportPopup(AlbumStore* albumStore, QWidget* parent)
    : QFrame(parent, Qt::Popup), m_view(new URLImportView(albumStore, this))
{
    setFrameShape(QFrame::StyledPanel);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedWidth(popupWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    connect(m_view, &URLImportView::closeRequested, this, &QWidget::close);
}

void URLImportPopup::showBelow(QWidget* anchor)
{
    adjustSize();
    QPoint position = anchor->mapToGlobal(QPoint(0, anchor->height() + 4));
    if (const QScreen* screen = anchor->screen()) {
        const QRect available = screen->availableGeometry();
        position.setX(std::clamp(position.x(), available.left(),
                                 std::max(available.left(), available.right() - width())));
        position.setY(std::clamp(position.y(), available.top(),
                                 std::max(available.top(), available.bottom() - height())));
    }
    // Inside the window that opened it, as far as it fits.
    if (const QWidget* window = anchor->window()) {
        const QRect frame = window->frameGeometry();
        if (position.x() + width() > frame.right())
            position.setX(std::max(frame.left(), frame.right() - width() - 8));
    }
    move(position);
    show();
}

} // namespace calmcove
