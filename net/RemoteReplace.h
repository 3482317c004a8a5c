#pragma once
// How an upload takes the place of a file on the server, whatever renaming the
// server allows, so that at every moment the old file or the complete new one
// is under the target's name or under a name the user is told, and the data
// goes once. Knows no protocol: the steps on the server come through RemoteSteps.
//
// A cancel (the user's, a closed handle, the program ending) may come during any step.
// The step then ends at once, with its outcome unknown when its answer had not come:
// a rename may or may not have been carried out. What follows is clean-up, each step
// un-cancellable with a short time limit (RemoteSteps::removeFile, Step::CleanUp):
//   - before the data: nothing, or the probe's empty file is removed;
//   - during the data, or the rename of the temporary onto the target: the temporary is
//     removed (after a rename carried out it is gone already: the new file is in place);
//   - after the old file may have been moved aside: it is moved back, then the temporary
//     removed; if it cannot be moved back (the new file may hold the name), nothing is
//     removed and both are named;
//   - during the removal of the backup or the setting of the mode: the upload has
//     succeeded; those steps go on or are left;
//   - written in place (a server that renames nothing): the target holds part of the new
//     file, and the outcome's notice says so.
// After a lost connection nothing more is touched, and the files that may be left are named.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/Result.h"

namespace net {

// What a connection's server was seen to allow; kept for the connection's life.
enum class RenameSupport {
    Unknown,
    Renames,       // renames onto a free name; onto an existing one not yet tried
    OntoExisting,  // RNTO replaces an existing file
    OntoFreeOnly,  // RNTO onto an existing name is refused: the old file is moved aside first
    None,          // no renaming at all: files are written in place
};

// The server's answer to one step: a reply code as FTP gives them (2xx and 3xx: done,
// 4xx and 5xx: refused; a protocol without codes gives 200 or 550), code 0 when none came.
struct StepReply {
    int code = 0;
    std::string text;
    Result result;  // the call's own outcome, for a step that got no reply
    bool done() const { return code >= 200 && code < 400; }
    bool refused() const { return code >= 400; }
};

// A rename's answer. The server may take the old name before it refuses the new one (FTP's
// RNFR, then RNTO): then a refusal or a lost connection came at the new name.
struct RenameReply {
    StepReply reply;
    bool sourceTaken = false;
};

struct StoreOutcome {
    Result result;
    // The server refused the name before any data went (550, 553, 501): it takes no such
    // name, which says nothing about its disk or the connection.
    bool nameRefused = false;
    StepReply reply;  // the reply that ended the store
    // Cut by a lost connection, not by the user or a refusal: the part stays on the server
    // for the next upload of the same file to continue.
    bool kept = false;
};

// What the server tells of a path before an upload.
struct ServerFile {
    std::optional<unsigned> mode;  // a file's permission bits, when told
    bool folder = false;           // the name is a folder's: nothing is uploaded over it
};

// A step of the upload, or one that puts the server's files back in order after a cancel or
// a failure: the user cannot cancel that one, and a short time limit bounds it.
enum class Step { Upload, CleanUp };

// The steps of an upload on the server, in a protocol's own commands. Paths are absolute.
// The user sees every step as part of one call, which Cancel ends.
class RemoteSteps {
public:
    virtual ~RemoteSteps() = default;
    virtual ServerFile describe(const std::string& path) = 0;
    // Sends the local file.
    virtual StoreOutcome store(const std::string& path) = 0;
    // Stores an empty file.
    virtual StoreOutcome storeEmpty(const std::string& path) = 0;
    // A refusal leaves the connection open.
    virtual RenameReply rename(const std::string& from, const std::string& to, Step step) = 0;
    // Removes a file: always a clean-up step.
    virtual StepReply removeFile(const std::string& path) = 0;
    virtual StepReply setMode(const std::string& path, unsigned mode) = 0;
    // A step was cancelled: only clean-up steps follow.
    virtual bool cancelled() const = 0;
};

struct ReplaceNames {
    std::string target;  // absolute paths on the server
    std::string temp;
    std::string backup;
    std::string probe;  // an empty file's, renamed once to learn what the server allows
};

// Hidden names beside `target` (absolute), unique in this run: temporaryPrefix(its name), the
// process and a number. With a `tempKey` the temporary is the prefix and the key instead, the
// same on every run.
ReplaceNames replaceNamesFor(const std::string& target, const std::string& tempKey = {});
// How every hidden name of a file named `name` begins: "." and the name (cut to 100 bytes
// before a whole UTF-8 character), then ".quillon-".
std::string temporaryPrefix(const std::string& name);

struct ReplaceOutcome {
    Result result;
    std::optional<StepReply> reply;  // the server's reply that explains a failure
    // What the user must read, failed or not, even after a cancel: the files the server kept
    // beside the target, or the target left holding part of the new file.
    std::string notice;
};

// Uploads through a temporary name and puts it in the target's place. A folder of the
// target's name is refused. While `support` is Unknown an empty file is renamed first, so
// that a server that renames nothing gets the data once, in place. A server that refuses
// the rename after the data went gets a failure, never the data again. The old file's
// permissions (describe) are given back where the server accepts it. `newName`: the caller
// found no file of the target's name just before, so it is not described; a refused rename
// onto it then fails the upload, and nothing is moved aside.
ReplaceOutcome replaceRemote(RemoteSteps& steps, const ReplaceNames& names, RenameSupport& support,
                             bool newName = false);

}  // namespace net
