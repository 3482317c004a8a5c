#pragma once
// The FTP daemons found on this machine (vsftpd, proftpd, pure-ftpd), each started as root
// on a loopback port with a configuration of its own, stopped in the destructor.

#include <QProcess>
#include <QString>

namespace bench {

// Where a server keeps its files and how to log in to it.
struct Peer {
    QString name;      // "" for the benchmarks' own server
    QString address;   // "127.0.0.1:port"
    QString user;
    QString password;
    QString folder;    // on the server: "/..." with the two files
    QString diskFolder;
};

// A daemon found on this machine, started in `base`: the login's folder belongs to the
// unprivileged user "ftp", as the daemons serve files as that user.
class Daemon {
public:
    Daemon(const QString& name, const QString& program, const QString& base);
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    bool running() const { return m_listening; }
    const Peer& peer() const { return m_peer; }

private:
    QString m_name;
    Peer m_peer;
    QProcess m_process;
    bool m_listening = false;
};

// The program of each daemon found ("vsftpd", "proftpd", "pure-ftpd"), by name.
QList<QPair<QString, QString>> daemonsFound();

}  // namespace bench
