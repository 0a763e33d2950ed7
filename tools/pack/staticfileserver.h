#pragma once

// A static HTTPS server for a pack folder, for development, demos and tests: GET and HEAD
// of the files under one root, single byte ranges (206, 416), nothing outside the root.

#include "tools/pack/packresult.h"

#include <functional>
#include <memory>
#include <QString>
#include <QUrl>

namespace calmcove {

// Where a request path leads under a root folder.
struct ServedPath
{
    enum class Kind
    {
        file,      // a regular file inside the root
        notFound,  // nothing servable there: missing, a folder, or hidden (a name with a leading
                   // dot)
        forbidden, // "." or ".." segments, backslashes, control characters, or a link that
                   // leads outside the root
    };
    Kind kind = Kind::notFound;
    QString filePath; // the file's canonical path, for Kind::file

    bool operator==(const ServedPath&) const = default;
};

// Maps the decoded path of a request ("/1.0/a.m4a") to a file under `canonicalRoot` (a
// canonical folder path, symbolic links resolved). Pure apart from reading the file system.
ServedPath resolveRequestPath(const QString& canonicalRoot, const QByteArray& requestPath);

class StaticFileServer
{
public:
    // One line per request ("GET /index.json 200"), called on a server thread.
    using Logger = std::function<void(const QString& line)>;

    StaticFileServer(QString root, QString certificatePath, QString keyPath, Logger logger = {});
    // Stops the server if it runs.
    ~StaticFileServer();
    StaticFileServer(const StaticFileServer&) = delete;
    StaticFileServer& operator=(const StaticFileServer&) = delete;

    // Loads the certificate and key, binds `host`:`port` (0: any free port) and answers on
    // threads of its own. Returns the bound port; fails when the root is not a folder, the
    // certificate or key cannot be loaded, or the address cannot be bound.
    PackResult<int> start(const QString& host, int port);
    // Whether the server still accepts connections (false after stop or a failed listen).
    bool isRunning() const;
    // Stops accepting, finishes the requests in progress and joins the server thread.
    void stop();
    // "https://HOST:PORT/" once started.
    QUrl url() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace calmcove
