#include "net/RemoteReplace.h"

#include <unistd.h>

#include <atomic>
#include <algorithm>

namespace net {
namespace {

// A refused step's reply: the failure the user is shown (12003 and the server's words).
Result refusal(const StepReply& reply)
{
    if (reply.code == 0)
        return reply.result.ok() ? Result::failure(ERROR_INTERNET_CONNECTION_ABORTED, "no reply") : reply.result;
    return Result::failure(ERROR_INTERNET_EXTENDED_ERROR, reply.text);
}

class Replace {
public:
    Replace(RemoteSteps& steps, const ReplaceNames& names, RenameSupport& support, bool newName)
        : m_steps(steps), m_names(names), m_support(support), m_newName(newName)
    {
    }

    ReplaceOutcome run()
    {
        // The old file's permissions, which the new file would not get by itself; and a folder
        // of that name is never moved aside for a file.
        const ServerFile old = m_newName ? ServerFile{} : m_steps.describe(m_names.target);
        if (m_steps.cancelled())
            return cancelled();
        if (old.folder)
            return {Result::failure(ERROR_ACCESS_DENIED, "A folder of that name is on the server. Nothing was sent."),
                    std::nullopt, {}};
        m_mode = old.mode;
        if (m_support == RenameSupport::Unknown)
            if (std::optional<ReplaceOutcome> outcome = probe())
                return *outcome;
        if (m_support == RenameSupport::None)
            return inPlace();
        const StoreOutcome stored = m_steps.store(m_names.temp);
        if (!stored.result.ok())
            return storeFailed(stored, m_names.temp, "a part of the new file");
        if (m_newName || m_support != RenameSupport::OntoFreeOnly) {
            const RenameReply moved = m_steps.rename(m_names.temp, m_names.target, Step::Upload);
            if (moved.reply.done()) {
                if (m_support == RenameSupport::Renames)
                    m_support = RenameSupport::OntoExisting;
                return succeed();
            }
            if (moved.reply.code == 0)
                return unanswered(moved.reply, false);
            if (!moved.sourceTaken)  // no renaming at all
                return notRenamed(moved.reply);
            if (m_newName) {
                // Taken meanwhile, perhaps by a folder, or refused: whatever holds it stays.
                removeOrName(m_names.temp, "the new file");
                return fail(refusal(moved.reply), moved.reply);
            }
        }
        return swap();
    }

private:
    // A store to a hidden name failed. Refused as a name: no such names here, so the target
    // is written in place. Cut, disk full, quota, Cancel: what arrived goes, the old file stays.
    ReplaceOutcome storeFailed(const StoreOutcome& stored, const std::string& path, const char* what)
    {
        if (stored.nameRefused)
            return inPlace();
        if (stored.kept)
            m_keptPart = path;
        else
            removeOrName(path, what);
        return fail(stored.result, stored.reply);
    }

    // Learnt before any data goes, once for the connection: an empty file is stored and
    // renamed to another free name. Where that is refused the server renames nothing, and
    // the data goes once, in place. No outcome: the upload goes on.
    std::optional<ReplaceOutcome> probe()
    {
        const std::string moved = m_names.probe + "-moved";
        const StoreOutcome stored = m_steps.storeEmpty(m_names.probe);
        if (!stored.result.ok())
            return storeFailed(stored, m_names.probe, "an empty file");
        const RenameReply renamed = m_steps.rename(m_names.probe, moved, Step::Upload);
        const StepReply& to = renamed.reply;
        if (to.code == 0) {  // the empty file is under one of the names: cancelled, it goes
            const bool cancel = m_steps.cancelled();
            if (cancel && renamed.sourceTaken && m_steps.removeFile(moved).done())
                return cancelled();
            if (cancel && m_steps.removeFile(m_names.probe).done())
                return cancelled();
            m_left.push_back(m_names.probe + " (an empty file)");
            if (renamed.sourceTaken)
                m_left.push_back(moved + " (an empty file)");
            return cancel ? cancelled() : fail(refusal(to), std::nullopt);
        }
        if (to.refused()) {
            removeOrName(m_names.probe, "an empty file");
            return inPlace();
        }
        m_support = RenameSupport::Renames;
        removeOrName(moved, "an empty file");
        return std::nullopt;
    }

    // Old file to the backup name, the new one onto the target, then the backup goes.
    ReplaceOutcome swap()
    {
        const RenameReply aside = m_steps.rename(m_names.target, m_names.backup, Step::Upload);
        if (aside.reply.code == 0)
            return unanswered(aside.reply, aside.sourceTaken);
        if (!aside.sourceTaken) {
            // Nothing to move aside (the target is gone) or no right to: a rename onto the
            // free name, once.
            const RenameReply to = m_steps.rename(m_names.temp, m_names.target, Step::Upload);
            if (to.reply.done())
                return succeed();
            if (to.reply.code == 0)
                return unanswered(to.reply, false);
            return notRenamed(to.reply);
        }
        if (aside.reply.refused())
            return notRenamed(aside.reply);
        const RenameReply to = m_steps.rename(m_names.temp, m_names.target, Step::Upload);
        if (to.reply.done()) {
            m_support = RenameSupport::OntoFreeOnly;
            removeOrName(m_names.backup, "the old file");
            return succeed();
        }
        if (to.reply.code == 0)
            return unanswered(to.reply, true);
        // The new file cannot take the name: the old one goes back, the failure is reported.
        putBack();
        return fail(refusal(to.reply), to.reply);
    }

    // A rename of the swap got no answer, so it may have been carried out; the old file may
    // be under the backup name (oldAside). Cancelled, the server's files are put in order;
    // after a lost connection nothing more is touched, and the user learns where they may be.
    ReplaceOutcome unanswered(const StepReply& reply, bool oldAside)
    {
        if (!m_steps.cancelled()) {
            if (oldAside)
                m_left.push_back(m_names.backup + " (the old file)");
            m_left.push_back(m_names.temp + " (the new file)");
            return fail(refusal(reply), std::nullopt);
        }
        if (oldAside)
            putBack();
        else  // after a rename carried out the temporary is gone: the new file is in place
            removeOrName(m_names.temp, "the new file");
        return cancelled();
    }

    // The old file goes back under the target's name, then the temporary goes. Where it cannot
    // go back (the new file may hold the name), nothing is removed and both are named.
    void putBack()
    {
        if (m_steps.rename(m_names.backup, m_names.target, Step::CleanUp).reply.done())
            removeOrName(m_names.temp, "the new file");
        else
            m_left = {m_names.backup + " (the old file)", m_names.temp + " (the new file)"};
    }

    // The complete new file is under the temporary name and the server will not move it onto
    // the target: it is not sent a second time. It goes, the old file stays, and the upload
    // fails; later uploads on this connection write in place, sending the data once.
    ReplaceOutcome notRenamed(const StepReply& reply)
    {
        m_support = RenameSupport::None;
        removeOrName(m_names.temp, "the new file");
        return fail(Result::failure(ERROR_INTERNET_EXTENDED_ERROR,
                                    "The server would not give the uploaded file the name " + m_names.target +
                                        ", which keeps the old file. Uploading again writes the file in place."),
                    reply);
    }

    // No temporary file can take the target's place on this server (renames or hidden names
    // refused): the target is written in place, now and for the rest of the connection.
    ReplaceOutcome inPlace()
    {
        m_support = RenameSupport::None;
        const StoreOutcome stored = m_steps.store(m_names.target);
        if (stored.result.ok())
            return succeed();
        m_partial = !stored.nameRefused;  // the old file was being written over
        return fail(stored.result, stored.reply);
    }

    void removeOrName(const std::string& path, const char* what)
    {
        if (!m_steps.removeFile(path).done())
            m_left.push_back(path + " (" + what + ")");
    }

    ReplaceOutcome succeed()
    {
        if (m_mode)  // a refusal leaves the server's own permissions; never set-id bits
            (void)m_steps.setMode(m_names.target, *m_mode & 0777u);
        if (m_left.empty())
            return {Result::success(), std::nullopt, {}};
        return {Result::success(), std::nullopt, "The file was uploaded. The server may still hold " + leftText()};
    }

    ReplaceOutcome cancelled() { return fail(Result::failure(ERROR_INTERNET_OPERATION_CANCELLED, {}), std::nullopt); }

    ReplaceOutcome fail(Result result, std::optional<StepReply> reply)
    {
        std::string notice;
        if (m_partial)
            notice = m_names.target + " on the server may now hold only part of the new file.";
        if (!m_left.empty())
            notice += (notice.empty() ? "" : " ") + std::string("The server may still hold ") + leftText();
        if (!m_keptPart.empty())
            notice += (notice.empty() ? "" : " ") + m_keptPart +
                      " on the server holds part of the new file; the next Upload of this file continues from there.";
        if (reply && reply->code == 0)
            reply.reset();
        return {std::move(result), std::move(reply), std::move(notice)};
    }

    std::string leftText() const
    {
        std::string text;
        for (const std::string& name : m_left)
            text += (text.empty() ? "" : ", ") + name;
        return text + ".";
    }

    RemoteSteps& m_steps;
    const ReplaceNames& m_names;
    RenameSupport& m_support;
    const bool m_newName;
    std::optional<unsigned> m_mode;  // the old file's, given back
    std::vector<std::string> m_left;  // files that could not be removed, with what they hold
    bool m_partial = false;           // the target was written in place and not to its end
    std::string m_keptPart;           // a cut store's temporary, kept for the next upload
};

}  // namespace

ReplaceNames replaceNamesFor(const std::string& target, const std::string& tempKey)
{
    static std::atomic<unsigned> counter{0};
    const auto slash = target.rfind('/');
    const std::string folder = slash == 0 || slash == std::string::npos ? "/" : target.substr(0, slash);
    const std::string base = target.substr(slash == std::string::npos ? 0 : slash + 1);
    const std::string prefix = (folder == "/" ? "/" : folder + "/") + temporaryPrefix(base);
    const std::string stem = prefix + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
    return {target, tempKey.empty() ? stem : prefix + tempKey, stem + "-old", stem + "-probe"};
}

std::string temporaryPrefix(const std::string& name)
{
    // A long name is cut before a whole UTF-8 character, for servers that want UTF-8 names.
    std::size_t keep = std::min<std::size_t>(name.size(), 100);
    while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    return "." + name.substr(0, keep) + ".quillon-";
}

ReplaceOutcome replaceRemote(RemoteSteps& steps, const ReplaceNames& names, RenameSupport& support, bool newName)
{
    return Replace(steps, names, support, newName).run();
}

}  // namespace net
