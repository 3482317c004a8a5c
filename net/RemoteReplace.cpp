#include "net/RemoteReplace.h"

#include <cstdio>

#include "net/ListingParser.h"

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
    Replace(RemoteSteps& steps, const ReplaceNames& names, RenameSupport& support, std::optional<unsigned> mode)
        : m_steps(steps), m_names(names), m_support(support), m_mode(mode)
    {
    }

    ReplaceOutcome run()
    {
        if (m_support == RenameSupport::Unknown)
            if (std::optional<ReplaceOutcome> outcome = probe())
                return *outcome;
        if (m_support == RenameSupport::None)
            return inPlace();
        const StoreOutcome stored = m_steps.store(m_names.temp);
        if (!stored.result.ok())
            return storeFailed(stored, m_names.temp, "a part of the new file");
        if (m_support != RenameSupport::OntoFreeOnly) {
            const StepReply from = m_steps.command("RNFR " + m_names.temp);
            if (from.code == 0)
                return broken(from, false);
            if (from.refused())
                return inPlaceOverTemp();
            const StepReply to = m_steps.command("RNTO " + m_names.target);
            if (to.done()) {
                if (m_support == RenameSupport::Renames)
                    m_support = RenameSupport::OntoExisting;
                return succeed();
            }
            if (to.code == 0)
                return broken(to, false);
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
        const StepReply from = m_steps.command("RNFR " + m_names.probe);
        const StepReply to = from.done() ? m_steps.command("RNTO " + moved) : from;
        if (to.code == 0) {  // the connection broke: the empty file is under one of the names
            m_left.push_back(m_names.probe + " (an empty file)");
            if (from.done())
                m_left.push_back(moved + " (an empty file)");
            return fail(refusal(to), std::nullopt);
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
        const StepReply oldFrom = m_steps.command("RNFR " + m_names.target);
        if (oldFrom.code == 0)
            return broken(oldFrom, false);
        if (oldFrom.refused()) {
            // Nothing to move aside (the target is gone) or no right to: a rename onto the
            // free name, once; a server that refuses that renames nothing.
            const StepReply from = m_steps.command("RNFR " + m_names.temp);
            const StepReply to = from.done() ? m_steps.command("RNTO " + m_names.target) : from;
            if (to.done())
                return succeed();
            if (to.code == 0)
                return broken(to, false);
            return inPlaceOverTemp();
        }
        const StepReply oldTo = m_steps.command("RNTO " + m_names.backup);
        if (oldTo.code == 0)
            return broken(oldTo, true);
        if (oldTo.refused())
            return inPlaceOverTemp();
        const StepReply from = m_steps.command("RNFR " + m_names.temp);
        const StepReply to = from.done() ? m_steps.command("RNTO " + m_names.target) : from;
        if (to.done()) {
            m_support = RenameSupport::OntoFreeOnly;
            removeOrName(m_names.backup, "the old file");
            return succeed();
        }
        if (to.code == 0)
            return broken(to, true);
        // The new file cannot take the name: the old one goes back, the failure is reported.
        const StepReply backFrom = m_steps.command("RNFR " + m_names.backup);
        const StepReply back = backFrom.done() ? m_steps.command("RNTO " + m_names.target) : backFrom;
        if (back.done())
            removeOrName(m_names.temp, "the new file");
        else
            m_left = {m_names.backup + " (the old file)", m_names.temp + " (the new file)"};
        return fail(refusal(to), to);
    }

    // No temporary file can take the target's place on this server (renames or hidden names
    // refused): the target is written in place, now and for the rest of the connection.
    ReplaceOutcome inPlace()
    {
        m_support = RenameSupport::None;
        const StoreOutcome stored = m_steps.store(m_names.target);
        if (stored.result.ok())
            return succeed();
        ReplaceOutcome outcome = fail(stored.result, stored.reply);
        if (!stored.nameRefused)  // the old file was being written over
            outcome.result.text += (outcome.result.text.empty() ? "" : " ") + m_names.target +
                                   " on the server may now hold only part of the new file.";
        return outcome;
    }

    // As inPlace, with the complete new file already under the temporary name: it stays
    // until the target holds the new file whole, and is named where it cannot go.
    ReplaceOutcome inPlaceOverTemp()
    {
        m_support = RenameSupport::None;
        const StoreOutcome stored = m_steps.store(m_names.target);
        if (stored.result.ok()) {
            removeOrName(m_names.temp, "a copy of the new file");
            return succeed();
        }
        if (stored.nameRefused)  // nothing was written: the old file is whole
            removeOrName(m_names.temp, "the new file");
        else
            m_left.push_back(m_names.temp + " (the new file)");
        return fail(stored.result, stored.reply);
    }

    // The connection broke on a step whose outcome is unknown: nothing more is touched,
    // and the user learns where the files may be.
    ReplaceOutcome broken(const StepReply& reply, bool oldMoved)
    {
        if (oldMoved)
            m_left.push_back(m_names.backup + " (the old file)");
        m_left.push_back(m_names.temp + " (the new file)");
        return fail(refusal(reply), std::nullopt);
    }

    void removeOrName(const std::string& path, const char* what)
    {
        if (!m_steps.command("DELE " + path).done())
            m_left.push_back(path + " (" + what + ")");
    }

    ReplaceOutcome succeed()
    {
        if (m_mode) {  // a refusal leaves the server's own permissions; never set-id bits
            char text[16];
            std::snprintf(text, sizeof text, "%03o", *m_mode & 0777u);
            (void)m_steps.command(std::string("SITE CHMOD ") + text + " " + m_names.target);
        }
        if (m_left.empty())
            return {Result::success(), std::nullopt};
        return {Result{ERROR_SUCCESS, "The file was uploaded. The server may still hold " + leftText()}, std::nullopt};
    }

    ReplaceOutcome fail(Result result, std::optional<StepReply> reply)
    {
        if (!m_left.empty())
            result.text += (result.text.empty() ? "" : " ") + std::string("The server may still hold ") + leftText();
        if (reply && reply->code == 0)
            reply.reset();
        return {std::move(result), std::move(reply)};
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
    std::optional<unsigned> m_mode;
    std::vector<std::string> m_left;  // files that could not be removed, with what they hold
};

}  // namespace

ReplaceOutcome replaceRemote(RemoteSteps& steps, const ReplaceNames& names, RenameSupport& support,
                             std::optional<unsigned> mode)
{
    return Replace(steps, names, support, mode).run();
}

namespace {

// A folder's name is never uploaded over; a file's permissions are kept.
ServerFile serverFileOf(const std::optional<ListEntry>& entry)
{
    ServerFile file;
    if (!entry)
        return file;
    file.folder = (entry->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (entry->attributes == FILE_ATTRIBUTE_NORMAL && (entry->mode & kModeGiven))
        file.mode = entry->mode & 0777u;
    return file;
}

}  // namespace

ServerFile serverFileFromMlst(std::string_view reply) { return serverFileOf(parseMlstReply(reply)); }

ServerFile serverFileFromStat(std::string_view reply, std::string_view name)
{
    return serverFileOf(parseStatReply(reply, name));
}

}  // namespace net
