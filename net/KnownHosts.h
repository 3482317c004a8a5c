#pragma once
// The SSH host keys the user trusts, read and added as OpenSSH's ssh does: known_hosts
// files of lines "[@marker] patterns key-type base64-key [comment]", where patterns is a
// comma list of names (with * and ?, and ! to exclude) or one hashed name
// "|1|base64(salt)|base64(HMAC-SHA1(salt, name))". A host is looked up as "name" on
// port 22 and as "[name]:port" on any other port, in lower case.

#include <string>
#include <string_view>
#include <vector>

#include "net/Result.h"

namespace net {

// The fingerprint `ssh-keygen -l` prints: "SHA256:" and the unpadded base64 of the
// SHA-256 of the key blob (the key as the server sends it).
std::string sshKeyFingerprint(std::string_view blob);
// The blob's own type name ("ssh-ed25519", "ecdsa-sha2-nistp256", "ssh-rsa"); empty when
// the blob does not start with one.
std::string sshKeyType(std::string_view blob);
// The type as ssh names it to users ("ED25519", "ECDSA", "RSA", "DSA"); else the type itself.
std::string sshKeyLabel(std::string_view type);

// "ED25519 key fingerprint is SHA256:...", as ssh words it.
std::string sshKeyDescription(std::string_view blob);

// The name a host is looked up and added by.
std::string knownHostsName(std::string_view host, int port);
// The line ssh adds for a new host: its name hashed with `salt` (20 random bytes), or the
// plain name when `salt` is empty; then the key's type and the key in base64.
std::string knownHostsLine(std::string_view name, std::string_view blob, std::string_view salt);

enum class HostKeyStatus {
    Known,    // an entry for the host holds this key
    Unknown,  // no entry names the host
    // Entries name the host, none with this key: file and line name one holding another key
    // of this key's type, else one of another type (ssh refuses both alike).
    Changed,
    Revoked,  // a @revoked entry for the host holds this key: file and line name it
};

struct HostKeyVerdict {
    HostKeyStatus status = HostKeyStatus::Unknown;
    std::string file;
    int line = 0;  // 1-based
};

// The warning for a Changed or Revoked verdict on `blob`, shown by `server` (as typed),
// naming the entry's file and line.
std::string hostKeyWarning(std::string_view server, std::string_view blob, const HostKeyVerdict& verdict);

// The verdict of one file's text for `name` (see knownHostsName), `fileName` only named.
// @cert-authority entries are passed over: a plain key is never certified.
HostKeyVerdict checkKnownHostsText(std::string_view text, const std::string& fileName, std::string_view name,
                                   std::string_view blob);

class KnownHosts {
public:
    // `files` are read in order, a missing one as empty; new entries go to the first.
    explicit KnownHosts(std::vector<std::string> files) : m_files(std::move(files)) {}
    // ssh's files: $HOME/.ssh/known_hosts and known_hosts2, then /etc/ssh/ssh_known_hosts and
    // ssh_known_hosts2.
    static KnownHosts forUser();

    const std::vector<std::string>& files() const { return m_files; }
    // Revoked anywhere wins, then Known anywhere, then the first Changed entry. A host with no
    // entry for its port other than 22 is Known when its port 22 entry holds the key.
    HostKeyVerdict check(std::string_view host, int port, std::string_view blob) const;
    // The key types the files know for the host, in file order: the ones to ask the server for.
    std::vector<std::string> knownTypes(std::string_view host, int port) const;
    // Appends the host's entry to the first file (hashed unless `hashed` is false) in one write,
    // after a line end when the file lacks its last one. A missing folder is made 0700, a
    // missing file 0600; nothing in the file is rewritten.
    Result add(std::string_view host, int port, std::string_view blob, bool hashed = true) const;

private:
    std::vector<std::string> m_files;
};

}  // namespace net
