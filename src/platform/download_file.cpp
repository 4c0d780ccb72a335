#include "platform/download_file.h"

#include "base/file_system.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <climits>

namespace gnis {
namespace {

// "" when the body begins as it must; else what it began with, for the message.
std::string wrongBeginning(const QByteArray& head, const std::vector<std::string>& must) {
    if (must.empty())
        return {};
    for (const std::string& m : must) {
        const QByteArray prefix = QByteArray::fromStdString(m);
        if (head.size() >= prefix.size() && head.left(prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0)
            return {};
    }
    std::string shown;
    for (const char c : head.left(24))
        shown += (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) ? '?' : c;
    return "what arrived is not the file asked for; it begins \"" + shown + "\"";
}

// "" when the body ends as it must.
std::string wrongEnd(const QByteArray& tail, const std::string& must) {
    if (must.empty() || tail.endsWith(QByteArray::fromStdString(must)))
        return {};
    return "the body ends in the middle of a line: the transfer was cut off";
}

// The last bytes of a body, enough for wrongEnd.
void keepTail(QByteArray& tail, const QByteArray& more) {
    tail += more.right(16);
    tail = tail.right(16);
}

std::string_view bytesOf(const QByteArray& b) { return {b.constData(), static_cast<std::size_t>(b.size())}; }

// A local file as the source: the same temporary-file-and-rename as a download.
Outcome copyLocal(const QString& source, const std::string& url, const std::filesystem::path& target,
                  const DownloadOptions& options) {
    QFile in(source);
    if (!QFileInfo(source).isFile() || !in.open(QIODevice::ReadOnly))
        return Outcome::failure(url + " not found");
    TextFileWriter out;
    if (Outcome opened = out.open(target); !opened)
        return opened;
    const qint64 total = in.size();
    qint64 done = 0;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0)
            return Outcome::failure(url + ": " + in.errorString().toStdString());
        if (done == 0) {
            if (const std::string wrong = wrongBeginning(buffer.left(n), options.mustBeginWith); !wrong.empty())
                return Outcome::failure(wrong + " (" + url + ")");
        }
        if (n == 0)
            break;
        out.write(bytesOf(buffer.left(n)));
        if (!out.flush())
            return out.commit(); // says what failed, and drops the temporary file
        done += n;
        if (options.progress)
            options.progress(done, total);
    }
    if (done < total) // the file shrank while it was copied
        return Outcome::failure(url + ": only " + std::to_string(done) + " of " + std::to_string(total) + " bytes could be read");
    return out.commit();
}

} // namespace

bool IsLocalServer(const std::string& server) {
    if (server.empty())
        return false;
    const QString scheme = QUrl(QString::fromStdString(server)).scheme().toLower();
    return scheme == "file" || (scheme != "http" && scheme != "https" && scheme != "ftp");
}

std::filesystem::path LocalServerFolder(const std::string& server) {
    const QUrl url(QString::fromStdString(server));
    if (url.scheme().toLower() == "file")
        return url.toLocalFile().toStdString();
    return server;
}

std::string UrlForMessages(const std::string& url) {
    // Cut by hand, not by QUrl: a URL that QUrl finds invalid (a port out of
    // range, an unclosed "["), of a scheme we do not serve, or without "//" is
    // shown too. The user part runs from the scheme to the last "@", whatever a
    // typed password holds ("/", "#", ":").
    const std::size_t scheme = url.find(':');
    const std::size_t at = url.rfind('@');
    if (scheme == std::string::npos || at == std::string::npos || at < scheme)
        return url;
    std::size_t start = scheme + 1;
    while (start < at && url[start] == '/')
        ++start;
    return url.substr(0, start) + url.substr(at + 1);
}

Outcome DownloadFile(const std::string& url, const std::filesystem::path& target, const DownloadOptions& options,
                     DownloadInfo* info) {
    DownloadInfo ignored;
    DownloadInfo& said = info ? *info : ignored;
    said = DownloadInfo{};
    // The body goes into a temporary file beside the target, renamed over it only
    // once complete: a link at the target's name is replaced, never written through,
    // and a failed download leaves whatever was there.
    const QUrl qurl = QUrl(QString::fromStdString(url));
    const QString scheme = qurl.scheme().toLower();
    if (scheme == "file")
        return copyLocal(qurl.toLocalFile(), UrlForMessages(url), target, options);
    if (scheme != "http" && scheme != "https")
        return copyLocal(QString::fromStdString(url), UrlForMessages(url), target, options); // a plain path

    TextFileWriter out;
    if (Outcome opened = out.open(target); !opened)
        return opened;

    QNetworkAccessManager manager;
    QNetworkRequest request(qurl);
    // A stale copy must never stand in for the server's archive.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setRawHeader("Cache-Control", "no-cache");
    request.setRawHeader("Pragma", "no-cache");
    // The server itself says whether the copy at hand is still current.
    const bool conditional = !options.ifNoneMatch.empty() || !options.ifModifiedSince.empty();
    if (!options.ifNoneMatch.empty())
        request.setRawHeader("If-None-Match", QByteArray::fromStdString(options.ifNoneMatch));
    if (!options.ifModifiedSince.empty())
        request.setRawHeader("If-Modified-Since", QByteArray::fromStdString(options.ifModifiedSince));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(10);

    QNetworkReply* reply = manager.get(request);
    reply->setReadBufferSize(1 << 20); // Qt reads no further ahead than this
    QEventLoop loop;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QTimer speedCheck;
    std::string timeout;
    bool answered = false;
    qint64 received = 0;
    qint64 announced = 0; // the body's length as the final response gave it, when it did
    QByteArray head;      // the first bytes of a success body
    QByteArray tail;      // and its last ones
    bool lengthGiven = false; // the final response said how long its body is
    QTimer deadline;
    deadline.setSingleShot(true);

    QObject::connect(&watchdog, &QTimer::timeout, &loop, [&] {
        if (timeout.empty())
            timeout = answered ? "no data arrived for " + std::to_string(options.stallTimeoutMs / 1000) + " s"
                               : "no answer from the server within " + std::to_string(options.connectTimeoutMs / 1000) + " s";
        reply->abort();
    });
    auto giveUp = [&](std::string why) {
        if (timeout.empty())
            timeout = std::move(why);
        reply->abort();
    };
    const std::string limit = std::to_string(options.maxBytes) + " bytes allowed";
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] {
        answered = true;
        watchdog.start(options.stallTimeoutMs);
        // The speed is judged from the first answer on; waiting for it has its own limit.
        if (!speedCheck.isActive() && options.lowSpeedTimeMs > 0)
            speedCheck.start(options.lowSpeedTimeMs);
        const QVariant lengthHeader = reply->header(QNetworkRequest::ContentLengthHeader);
        const qint64 length = lengthHeader.toLongLong();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        lengthGiven = lengthHeader.isValid(); // of the final response: a redirect's comes first
        if (status >= 200 && status < 300 && length > options.maxBytes)
            giveUp("the server announces " + std::to_string(length) + " bytes, more than the " + limit);
    });
    // Bytes at the start of the current speed window.
    qint64 windowStart = 0;
    QObject::connect(&speedCheck, &QTimer::timeout, &loop, [&] {
        if (received - windowStart < options.lowSpeedBytesPerSecond * options.lowSpeedTimeMs / 1000)
            giveUp("the transfer stayed under " + std::to_string(options.lowSpeedBytesPerSecond) + " bytes a second for " +
                   std::to_string(options.lowSpeedTimeMs / 1000) + " s");
        windowStart = received;
    });
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        answered = true;
        watchdog.start(options.stallTimeoutMs);
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QByteArray chunk = reply->readAll();
        received += chunk.size();
        if (received > options.maxBytes) {
            giveUp("the body grew past the " + limit);
            return;
        }
        // Only a success body is worth keeping; an error page is never written.
        if (status >= 200 && status < 300 && head.size() < 64)
            head += chunk.left(64 - head.size());
        if (status >= 200 && status < 300) {
            keepTail(tail, chunk);
            out.write(bytesOf(chunk));
            // A full disk ends the transfer at once, not at the size limit.
            if (!out.flush())
                giveUp(out.error());
        }
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, &loop, [&](qint64 done, qint64 total) {
        if (total > 0)
            announced = total;
        if (options.progress)
            options.progress(done, total > 0 ? total : 0);
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer cancelCheck;
    if (options.cancelled) {
        QObject::connect(&cancelCheck, &QTimer::timeout, &loop, [&] {
            if (options.cancelled())
                giveUp("cancelled");
        });
        cancelCheck.start(100);
    }
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        giveUp("the download took longer than " + std::to_string(options.maxTimeMs / 1000) + " s in all");
    });
    if (options.maxTimeMs > 0)
        deadline.start(static_cast<int>(std::min<std::int64_t>(options.maxTimeMs, INT_MAX)));
    watchdog.start(options.connectTimeoutMs);
    // Input reaches the windows meanwhile: a disabled window drops it, so nothing
    // is left queued to act after the stage.
    if (!reply->isFinished())
        loop.exec();
    watchdog.stop();
    speedCheck.stop();
    cancelCheck.stop();
    deadline.stop();

    const QByteArray rest = reply->isOpen() ? reply->readAll() : QByteArray();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    const QString finalUrl = reply->url().toString();
    const QNetworkReply::NetworkError error = reply->error();
    const QString errorText = reply->errorString();
    // Kept only when short and printable: they go into a file and back into a request.
    auto headerValue = [&reply](const char* name) {
        const QByteArray value = reply->rawHeader(name).trimmed();
        for (const char c : value)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
                return std::string();
        return value.size() <= 200 ? value.toStdString() : std::string();
    };
    said.etag = headerValue("ETag");
    said.lastModified = headerValue("Last-Modified");
    // The progress reports speak for the final response; after a redirect the
    // header may still be the redirect's own, so it only stands in for them.
    if (announced <= 0)
        announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    reply->deleteLater();

    received += rest.size();
    const std::string shownUrl = UrlForMessages(finalUrl.isEmpty() ? url : finalUrl.toStdString());
    std::string why;
    if (!timeout.empty())
        why = timeout;
    else if (status == 304 && conditional) {
        out.discard(); // the copy at hand stays the one to use
        said.notModified = true;
        return Outcome::success();
    } else if (status == 304)
        why = "the server answered 304 Not Modified to a request that was not conditional";
    else if (status != 0 && (status < 200 || status >= 300)) {
        // Appended piece by piece: GCC 12 at -O3 takes "HTTP " + a temporary for an overlapping copy.
        why = "HTTP ";
        why += std::to_string(status);
        if (!reason.isEmpty()) {
            why += ' ';
            why += reason.toStdString();
        }
    }
    else if (announced > 0 && received != announced)
        why = "the connection ended after " + std::to_string(received) + " of " + std::to_string(announced) + " bytes";
    else if (error != QNetworkReply::NoError)
        why = errorText.toStdString();
    else if (status == 0)
        why = "no HTTP answer";
    if (why.empty()) {
        out.write(bytesOf(rest));
        keepTail(tail, rest);
        if (head.size() < 64)
            head += rest.left(64 - head.size());
        why = wrongBeginning(head, options.mustBeginWith);
        // Only a body without an announced length can be cut off unnoticed.
        if (why.empty() && !lengthGiven)
            why = wrongEnd(tail, options.mustEndWith);
    }
    if (!why.empty()) {
        out.discard();
        // S3 answers a missing key with 403 when listing is not allowed, else 404.
        if (timeout.empty() && (status == 403 || status == 404))
            return Outcome::failure(shownUrl + " not found (" + why + ")");
        return Outcome::failure(why + " (" + shownUrl + ")");
    }
    return out.commit();
}

} // namespace gnis
