#pragma once

// A small HTTP/1.1 server on loopback for the download tests. The first path
// segment picks how it answers; the rest is looked up below its root folder:
//   /ok/...        200 with the file (404 when missing)
//   /403/..., /404/..., /500/...   that status with an HTML page
//   /redirect/...  302 to /ok/...
//   /cut/...       200 with the full Content-Length, half the body, then closed
//   /stall/...     200 with half the body, then nothing while the socket stays open
//   /chunked/...   200 with the file in chunked transfer encoding
//   /html/...      200 with an HTML error page, as a captive portal or proxy sends
//   /silent/...    the connection is accepted and never answered
//   /huge/...      200 announcing 5 GB, then a little data while the socket stays open
//   /drip/...      200 with the full Content-Length, then a byte every 100 ms
//   /trickle/...   200 with the full Content-Length, then 300 bytes every 100 ms (above any speed floor)
//   /cutclose/...  200 without a length, half the body, then closed
//   /always304/... 304 Not Modified, asked conditionally or not (a broken server or proxy)
// /ok/ answers with an ETag (a hash of the body) and a Last-Modified (the file's
// time), and with 304 Not Modified to an If-None-Match that names that ETag.
// It runs in the test's own thread, so the test must run an event loop while a
// client waits (DownloadFile does; runTool does for gnis-convert).

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QList>
#include <QLocale>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace testsupport {

class HttpTestServer : public QObject {
public:
    explicit HttpTestServer(const QString& root) : root_(root) {
        QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                s->setParent(this);
                QObject::connect(s, &QTcpSocket::readyRead, this, [this, s] { onRead(s); });
            }
        });
        server_.listen(QHostAddress::LocalHost, 0);
    }

    QString base(const QString& mode) const {
        return QString("http://127.0.0.1:%1/%2").arg(server_.serverPort()).arg(mode);
    }
    QList<QByteArray> requests; // request heads as received
    int bodiesSent = 0;  // /ok/ answers with the file
    int notModified = 0; // /ok/ answers 304

private:
    void onRead(QTcpSocket* s) {
        QByteArray& head = pending_[s];
        head += s->readAll();
        if (!head.contains("\r\n\r\n"))
            return;
        requests << head;
        const QByteArray target = head.split(' ').value(1);
        head.clear();
        const qsizetype slash = target.indexOf('/', 1);
        const QByteArray mode = target.mid(1, slash - 1);
        const QByteArray rest = slash < 0 ? QByteArray() : target.mid(slash);
        QFile file(root_ + QString::fromUtf8(rest));
        const bool found = !rest.contains("..") && file.open(QIODevice::ReadOnly);
        const QByteArray body = found ? file.readAll() : QByteArray();

        if (mode == "silent")
            return;
        if (mode == "always304") {
            s->write("HTTP/1.1 304 Not Modified\r\nContent-Length: 0\r\n\r\n");
            return;
        }
        if (mode == "huge") {
            s->write("HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nContent-Length: 5000000000\r\n\r\n");
            s->write(QByteArray(65536, 'z'));
            return;
        }
        if (mode == "drip" || mode == "trickle") {
            s->write("HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nContent-Length: " +
                     QByteArray::number(body.size()) + "\r\n\r\n");
            auto* timer = new QTimer(s);
            const qsizetype step = mode == "drip" ? 1 : 300;
            QObject::connect(timer, &QTimer::timeout, s, [s, body, step, sent = qsizetype(0)]() mutable {
                if (sent < body.size())
                    s->write(body.mid(sent, step));
                sent += step;
            });
            timer->start(100);
            return;
        }
        if (mode == "cutclose") {
            s->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n" + body.left(body.size() / 2));
            s->flush();
            s->disconnectFromHost();
            return;
        }
        if (mode == "403" || mode == "404" || mode == "500" || (!found && mode != "html" && mode != "redirect")) {
            const QByteArray status = mode == "500"   ? "500 Internal Server Error"
                                      : mode == "403" ? "403 Forbidden"
                                                      : "404 Not Found";
            send(s, status, "text/html", "<html><body>" + status + "</body></html>", true);
        } else if (mode == "redirect") {
            s->write("HTTP/1.1 302 Found\r\nLocation: /ok" + rest + "\r\nContent-Length: 0\r\n\r\n");
        } else if (mode == "html") {
            send(s, "200 OK", "text/html", "<html><body>The proxy could not reach the server.</body></html>", true);
        } else if (mode == "cut" || mode == "stall") {
            s->write("HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nContent-Length: " +
                     QByteArray::number(body.size()) + "\r\n\r\n");
            s->write(body.left(body.size() / 2));
            if (mode == "cut") {
                s->flush();
                s->disconnectFromHost();
            }
        } else if (mode == "chunked") {
            s->write("HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nTransfer-Encoding: chunked\r\n\r\n");
            for (qsizetype at = 0; at < body.size(); at += 65536) {
                const QByteArray chunk = body.mid(at, 65536);
                s->write(QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n");
            }
            s->write("0\r\n\r\n");
        } else {
            const QByteArray etag = '"' + QCryptographicHash::hash(body, QCryptographicHash::Md5).toHex() + '"';
            const QByteArray modified = QLocale::c()
                                            .toString(QFileInfo(file).lastModified().toUTC(), "ddd, dd MMM yyyy hh:mm:ss 'GMT'")
                                            .toLatin1();
            QByteArray asked;
            for (const QByteArray& line : requests.last().split('\n'))
                if (line.toLower().startsWith("if-none-match:"))
                    asked = line.mid(14).trimmed();
            if (asked == etag) {
                ++notModified;
                s->write("HTTP/1.1 304 Not Modified\r\nETag: " + etag + "\r\n\r\n");
                return;
            }
            ++bodiesSent;
            s->write("HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nETag: " + etag + "\r\nLast-Modified: " +
                     modified + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        }
    }

    static void send(QTcpSocket* s, const QByteArray& status, const QByteArray& type, const QByteArray& body,
                     bool close) {
        s->write("HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\nContent-Length: " +
                 QByteArray::number(body.size()) + (close ? "\r\nConnection: close" : "") + "\r\n\r\n" + body);
        if (close) {
            s->flush();
            s->disconnectFromHost();
        }
    }

    QString root_;
    QTcpServer server_;
    QHash<QTcpSocket*, QByteArray> pending_;
};

} // namespace testsupport
