#include "core/state/StateFileAppend.h"

#include "core/state/AtomicFile.h"
#include "core/state/StateFile.h"
#include "core/state/StateFileCare.h"
#include "core/state/Tpf0.h"

#include <QFile>
#include <QFileInfo>
#include <utility>
#include <vector>

namespace {

constexpr int kListBoxRecord = static_cast<int>(StateRecord::ListBox1);

enum class FileRead { Missing, Read, Failed };

FileRead readFile(const QString& path, std::string* data, QString* why) {
    if (!QFileInfo::exists(path))
        return FileRead::Missing;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = path + QStringLiteral(": ") + file.errorString();
        return FileRead::Failed;
    }
    if (file.isSequential() || file.size() > MaxStateFileSize) {
        *why =
            path + QStringLiteral(": not a regular file of at most %1 bytes").arg(MaxStateFileSize);
        return FileRead::Failed;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *why = path + QStringLiteral(": ") + file.errorString();
        return FileRead::Failed;
    }
    data->assign(bytes.constData(), std::size_t(bytes.size()));
    return FileRead::Read;
}

// Whole: every record read, none of them damaged.
bool readsWhole(std::string_view data, StateSnapshot* state, QString* why) {
    const StateReadResult result = ReadState(data, *state);
    if (result.status == StateReadResult::Status::Read && result.recordsRead == StateRecordCount)
        return true;
    *why = result.reason;
    return false;
}

// Where the history sits in the ListBox1 record.
struct HistorySpan {
    bool present = false;
    std::size_t insertAt = 0;                               // no list: where the entry goes
    std::vector<std::pair<std::size_t, std::size_t>> items; // each line's bytes
    std::size_t listEnd = 0;                                // the list's end marker
};

HistorySpan locateHistory(std::string_view data) {
    tpf0::Reader reader(data);
    for (int i = 0; i < kListBoxRecord; ++i)
        reader.ReadRecord();
    reader.ReadSignature();
    reader.ReadShortString();
    reader.ReadShortString();
    HistorySpan span;
    bool haveInsert = false;
    for (;;) {
        const std::size_t at = reader.Position();
        if (reader.ReadEndMarker()) {
            if (!haveInsert)
                span.insertAt = at;
            return span;
        }
        const std::string name = reader.ReadShortString();
        if (name != "Items.Strings") {
            // The window writes the list before these two.
            if (!haveInsert && !span.present && (name == "ParentFont" || name == "TabOrder")) {
                span.insertAt = at;
                haveInsert = true;
            }
            reader.ReadValue();
            continue;
        }
        if (reader.ReadTag() != tpf0::Tag::List)
            throw tpf0::EReadError(reader.Position(), "Items.Strings is no list");
        span.present = true;
        for (;;) {
            const std::size_t item = reader.Position();
            const tpf0::Tag tag = reader.ReadTag();
            if (tag == tpf0::Tag::Null) {
                span.listEnd = item;
                break;
            }
            reader.ReadText(tag);
            span.items.emplace_back(item, reader.Position());
        }
    }
}

std::string encodedLine(const QString& line) {
    tpf0::Writer writer;
    writer.WriteText(line);
    return writer.Data();
}

} // namespace

QString StateFileUnreadableReason(const QString& path) {
    std::string data;
    QString why;
    switch (readFile(path, &data, &why)) {
    case FileRead::Missing:
        return {};
    case FileRead::Failed:
        return why;
    case FileRead::Read:
        break;
    }
    StateSnapshot state;
    return readsWhole(data, &state, &why) ? QString() : path + QStringLiteral(": ") + why;
}

std::optional<std::string> AppendHistoryLine(std::string_view data, const QString& line, int cap,
                                             QString* why) {
    StateSnapshot before;
    if (!readsWhole(data, &before, why))
        return std::nullopt;
    HistorySpan span;
    try {
        span = locateHistory(data);
    } catch (const Exception& e) {
        *why = QString::fromStdString(e.Message());
        return std::nullopt;
    }

    std::string out;
    if (!span.present) {
        tpf0::Writer entry;
        entry.WriteShortString("Items.Strings");
        entry.WriteListStart();
        out.append(data.substr(0, span.insertAt));
        out.append(entry.Data());
        out.append(encodedLine(line));
        out.push_back('\0'); // end of the list
        out.append(data.substr(span.insertAt));
    } else {
        const bool dropFirst = std::ssize(span.items) + 1 > cap && !span.items.empty();
        const std::size_t keepFrom = dropFirst            ? span.items.front().second
                                     : span.items.empty() ? span.listEnd
                                                          : span.items.front().first;
        const std::size_t listStart = span.items.empty() ? span.listEnd : span.items.front().first;
        out.append(data.substr(0, listStart));
        out.append(data.substr(keepFrom, span.listEnd - keepFrom));
        out.append(encodedLine(line));
        out.append(data.substr(span.listEnd));
    }

    // The result must read back as the same state with one more line.
    StateSnapshot after;
    QStringList expected = before.ListBox1;
    expected.append(line);
    if (expected.size() > cap)
        expected.removeFirst();
    if (!readsWhole(out, &after, why) || after.ListBox1 != expected) {
        if (why->isEmpty())
            *why = QStringLiteral("the appended history does not read back");
        return std::nullopt;
    }
    return out;
}

StateAppendResult AppendHistoryLineToFile(const QString& path, const QString& line, int cap) {
    StateAppendResult result;
    std::string data;
    QString why;
    std::string updated;
    switch (readFile(path, &data, &why)) {
    case FileRead::Failed:
        result.status = StateAppendResult::Status::Unreadable;
        result.reason = why;
        return result;
    case FileRead::Missing: {
        // The initial state: empty texts and captions keep the window's own values.
        StateSnapshot fresh;
        fresh.ListBox1 = {line};
        updated = EncodeState(fresh);
        break;
    }
    case FileRead::Read: {
        auto appended = AppendHistoryLine(data, line, cap, &why);
        if (!appended) {
            result.status = StateAppendResult::Status::Unreadable;
            result.reason = path + QStringLiteral(": ") + why;
            return result;
        }
        updated = std::move(*appended);
        break;
    }
    }
    // What killed saves left would otherwise stay for ever when no window is ever opened.
    RemoveKilledSaveTemporaries(path);
    result.reason = WriteFileAtomically(path, updated);
    if (!result.reason.isEmpty())
        result.status = StateAppendResult::Status::WriteFailed;
    return result;
}
