#pragma once
// How an upload takes the place of a file on the server, whatever renaming the
// server allows, so that at every moment the old file or the complete new one
// is under the target's name or under a name the user is told. Knows nothing
// of libcurl: the steps on the server come through RemoteSteps.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/Result.h"

namespace net {

// What a connection's server was seen to allow; kept for the connection's life.
enum class RenameSupport {
    Unknown,
    OntoExisting,  // RNTO replaces an existing file
    OntoFreeOnly,  // RNTO onto an existing name is refused: the old file is moved aside first
    None,          // no renaming at all: files are written in place
};

// The reply to one command: code 0 when none came (connection lost, cancelled).
struct StepReply {
    int code = 0;
    std::string text;
    Result result;  // the call's own outcome, for a step that got no reply
    bool done() const { return code >= 200 && code < 400; }
    bool refused() const { return code >= 400; }
};

struct StoreOutcome {
    Result result;
    // The server refused the name before any data went (550, 553, 501): it takes no such
    // name, which says nothing about its disk or the connection.
    bool nameRefused = false;
    StepReply reply;  // the reply that ended the store
};

class RemoteSteps {
public:
    virtual ~RemoteSteps() = default;
    virtual StoreOutcome store(const std::string& path) = 0;
    // One command in the target's folder; a refusal leaves the connection open.
    virtual StepReply command(const std::string& line) = 0;
};

struct ReplaceNames {
    std::string target;  // absolute paths on the server
    std::string temp;
    std::string backup;
};

struct ReplaceOutcome {
    // On success the text, when not empty, names the files the server kept.
    Result result;
    std::optional<StepReply> reply;  // the server's reply that explains a failure
};

// Uploads through a temporary name and puts it in the target's place. `mode`: the old
// file's permissions, restored with SITE CHMOD where the server accepts it.
ReplaceOutcome replaceRemote(RemoteSteps& steps, const ReplaceNames& names, RenameSupport& support,
                             std::optional<unsigned> mode);

// What the server tells of the target before an upload.
struct ServerFile {
    std::optional<unsigned> mode;  // permission bits (a MLST unix.mode fact, a Unix listing line)
    bool folder = false;           // the name is a folder's: nothing is uploaded over it
};
ServerFile serverFileFromMlst(std::string_view reply);
// `name`: the file's name, as the STAT reply's listing line ends.
ServerFile serverFileFromStat(std::string_view reply, std::string_view name);

}  // namespace net
