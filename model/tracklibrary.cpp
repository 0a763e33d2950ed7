#include "tracklibrary.h"

namespace calmcove::TrackLibrary {

namespace {

struct CatalogueRow
{
    const char* id;
    const char* title;
    int duration; // seconds
    Mood firstMood;
    Mood secondMood;
    CalmKind kind;
};

// clang-format off
constexpr CatalogueRow catalogue[] = {
    {"morning-tea-steam", "Morning Tea Steam", 164, Mood::focus, Mood::cozy, CalmKind::dustyBeat},
    {"rain-on-the-skylight", "Rain on the Skylight", 188, Mood::rainy, Mood::sleepy, CalmKind::vaporwave},
    {"pixel-snowfall", "Pixel Snowfall", 484, Mood::focus, Mood::rainy, CalmKind::softGlitch},
    {"midnight-overpass", "Midnight Overpass", 201, Mood::night, Mood::boost, CalmKind::nightDrive},
    {"paper-lanterns", "Paper Lanterns", 154, Mood::cozy, Mood::sleepy, CalmKind::dustyBeat},
    {"pastel-mall-fountain", "Pastel Mall Fountain", 628, Mood::boost, Mood::cozy, CalmKind::vaporwave},
    {"quiet-circuit", "Quiet Circuit", 176, Mood::focus, Mood::night, CalmKind::softGlitch},
    {"tail-light-rivers", "Tail Light Rivers", 454, Mood::night, Mood::rainy, CalmKind::nightDrive},
    {"dusty-window-light", "Dusty Window Light", 676, Mood::focus, Mood::rainy, CalmKind::dustyBeat},
    {"lilac-horizon", "Lilac Horizon", 139, Mood::rainy, Mood::night, CalmKind::vaporwave},
    {"tiny-data-rain", "Tiny Data Rain", 72, Mood::rainy, Mood::sleepy, CalmKind::softGlitch},
    {"empty-highway-moon", "Empty Highway Moon", 299, Mood::night, Mood::sleepy, CalmKind::nightDrive},
    {"slow-bicycle-bell", "Slow Bicycle Bell", 118, Mood::cozy, Mood::boost, CalmKind::dustyBeat},
    {"glass-atrium", "Glass Atrium", 168, Mood::focus, Mood::rainy, CalmKind::vaporwave},
    {"glow-worm-code", "Glow Worm Code", 524, Mood::night, Mood::cozy, CalmKind::softGlitch},
    {"harbor-road-at-two", "Harbor Road at Two", 508, Mood::night, Mood::focus, CalmKind::nightDrive},
    {"corner-bookshop", "Corner Bookshop", 151, Mood::focus, Mood::cozy, CalmKind::dustyBeat},
    {"cloud-elevator", "Cloud Elevator", 326, Mood::sleepy, Mood::rainy, CalmKind::vaporwave},
    {"soft-reboot", "Soft Reboot", 172, Mood::boost, Mood::focus, CalmKind::softGlitch},
    {"tunnel-glow", "Tunnel Glow", 644, Mood::boost, Mood::night, CalmKind::nightDrive},
    {"warm-vinyl-hum", "Warm Vinyl Hum", 514, Mood::cozy, Mood::night, CalmKind::dustyBeat},
    {"soft-neon-haze", "Soft Neon Haze", 140, Mood::night, Mood::rainy, CalmKind::vaporwave},
    {"crystal-buffer", "Crystal Buffer", 659, Mood::focus, Mood::boost, CalmKind::softGlitch},
    {"dashboard-constellations", "Dashboard Constellations", 206, Mood::night, Mood::sleepy, CalmKind::nightDrive},
    {"library-afternoon", "Library Afternoon", 308, Mood::focus, Mood::sleepy, CalmKind::dustyBeat},
    {"palm-court-echo", "Palm Court Echo", 676, Mood::cozy, Mood::boost, CalmKind::vaporwave},
    {"dewdrop-bits", "Dewdrop Bits", 143, Mood::rainy, Mood::cozy, CalmKind::softGlitch},
    {"coastal-exit", "Coastal Exit", 670, Mood::boost, Mood::focus, CalmKind::nightDrive},
    {"cardigan-weather", "Cardigan Weather", 679, Mood::rainy, Mood::cozy, CalmKind::dustyBeat},
    {"satin-dusk", "Satin Dusk", 486, Mood::sleepy, Mood::night, CalmKind::vaporwave},
    {"moss-and-modems", "Moss and Modems", 759, Mood::cozy, Mood::sleepy, CalmKind::softGlitch},
    {"sodium-streetlamps", "Sodium Streetlamps", 306, Mood::night, Mood::rainy, CalmKind::nightDrive},
    {"kettle-on-low", "Kettle on Low", 127, Mood::cozy, Mood::sleepy, CalmKind::dustyBeat},
    {"seafoam-reverie", "Seafoam Reverie", 650, Mood::rainy, Mood::focus, CalmKind::vaporwave},
    {"blinking-cursor-lullaby", "Blinking Cursor Lullaby", 216, Mood::sleepy, Mood::night, CalmKind::softGlitch},
    {"late-ferry-lights", "Late Ferry Lights", 376, Mood::night, Mood::cozy, CalmKind::nightDrive},
    {"sunday-crossword", "Sunday Crossword", 509, Mood::focus, Mood::boost, CalmKind::dustyBeat},
    {"velvet-static", "Velvet Static", 227, Mood::night, Mood::sleepy, CalmKind::vaporwave},
    {"feather-packet", "Feather Packet", 633, Mood::focus, Mood::sleepy, CalmKind::softGlitch},
    {"rearview-aurora", "Rearview Aurora", 200, Mood::boost, Mood::night, CalmKind::nightDrive},
    {"notebook-margins", "Notebook Margins", 664, Mood::focus, Mood::rainy, CalmKind::dustyBeat},
    {"marble-lobby-dreams", "Marble Lobby Dreams", 395, Mood::focus, Mood::cozy, CalmKind::vaporwave},
    {"paper-crane-loop", "Paper Crane Loop", 653, Mood::cozy, Mood::focus, CalmKind::softGlitch},
    {"quiet-toll-booth", "Quiet Toll Booth", 265, Mood::sleepy, Mood::night, CalmKind::nightDrive},
    {"porch-swing-tape", "Porch Swing Tape", 185, Mood::cozy, Mood::boost, CalmKind::dustyBeat},
    {"fading-postcard", "Fading Postcard", 675, Mood::rainy, Mood::cozy, CalmKind::vaporwave},
    {"sparkle-index", "Sparkle Index", 664, Mood::boost, Mood::rainy, CalmKind::softGlitch},
    {"long-way-home", "Long Way Home", 272, Mood::cozy, Mood::night, CalmKind::nightDrive},
    {"pencil-shavings", "Pencil Shavings", 461, Mood::focus, Mood::night, CalmKind::dustyBeat},
    {"drifting-escalator", "Drifting Escalator", 179, Mood::sleepy, Mood::focus, CalmKind::vaporwave},
    {"last-train-window", "Last Train Window", 640, Mood::rainy, Mood::night, CalmKind::nightDrive},
};
// clang-format on

QList<CalmTrack> makeTracks()
{
    QList<CalmTrack> result;
    result.reserve(std::size(catalogue));
    for (const CatalogueRow& row : catalogue) {
        const QString id = QString::fromLatin1(row.id);
        result.append(CalmTrack{
            .id = id,
            .albumID = builtInAlbumID,
            .title = QString::fromLatin1(row.title),
            .artist = artistName,
            .duration = double(row.duration),
            .moods = {row.firstMood, row.secondMood},
            .kind = row.kind,
            .source = BundledAudio{id},
        });
    }
    return result;
}

} // namespace

const QList<CalmTrack>& tracks()
{
    static const QList<CalmTrack> instance = makeTracks();
    return instance;
}

const CalmAlbum& builtInAlbum()
{
    static const CalmAlbum instance{
        .id = builtInAlbumID,
        .name = builtInAlbumName,
        .tracks = tracks(),
        .artwork = AssetArtwork{builtInAlbumCoverName},
        .isBuiltIn = true,
    };
    return instance;
}

const QSet<QString>& starterTrackIDs()
{
    static const QSet<QString> instance = {
        QStringLiteral("morning-tea-steam"),
        QStringLiteral("rain-on-the-skylight"),
        QStringLiteral("midnight-overpass"),
    };
    return instance;
}

} // namespace calmcove::TrackLibrary
