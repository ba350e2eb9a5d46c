#include "core/state/StateFile.h"

#include "core/state/AtomicFile.h"
#include "core/state/Cp932.h"
#include "core/state/Tpf0.h"

#include <QFile>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <span>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using tpf0::Tag;

namespace {

// ---- What each control stores

enum class Kind { Integer, Text, Ident, IdentOrInteger, Boolean, Set, Strings };

struct PropertyDef {
    std::string_view name;
    Kind kind;
};

// The properties a control of each class may carry in the file, whichever record it is.
constexpr PropertyDef EditProperties[] = {
    {"Left", Kind::Integer},
    {"Top", Kind::Integer},
    {"Width", Kind::Integer},
    {"Height", Kind::Integer},
    {"Font.Charset", Kind::IdentOrInteger},
    {"Font.Color", Kind::IdentOrInteger},
    {"Font.Height", Kind::Integer},
    {"Font.Name", Kind::Text},
    {"Font.Style", Kind::Set},
    {"ImeMode", Kind::Ident},
    {"ParentFont", Kind::Boolean},
    {"ParentShowHint", Kind::Boolean},
    {"ShowHint", Kind::Boolean},
    {"TabOrder", Kind::Integer},
    {"Text", Kind::Text},
    {"Visible", Kind::Boolean},
};

constexpr PropertyDef ListBoxProperties[] = {
    {"Left", Kind::Integer},
    {"Top", Kind::Integer},
    {"Width", Kind::Integer},
    {"Height", Kind::Integer},
    {"TabStop", Kind::Boolean},
    {"Font.Charset", Kind::IdentOrInteger},
    {"Font.Color", Kind::IdentOrInteger},
    {"Font.Height", Kind::Integer},
    {"Font.Name", Kind::Text},
    {"Font.Style", Kind::Set},
    {"ItemHeight", Kind::Integer},
    {"Items.Strings", Kind::Strings},
    {"ParentFont", Kind::Boolean},
    {"TabOrder", Kind::Integer},
};

constexpr PropertyDef LabelProperties[] = {
    {"Left", Kind::Integer},
    {"Top", Kind::Integer},
    {"Width", Kind::Integer},
    {"Height", Kind::Integer},
    {"Caption", Kind::Text},
    {"Font.Charset", Kind::IdentOrInteger},
    {"Font.Color", Kind::IdentOrInteger},
    {"Font.Height", Kind::Integer},
    {"Font.Name", Kind::Text},
    {"Font.Style", Kind::Set},
    {"ParentFont", Kind::Boolean},
    {"Visible", Kind::Boolean},
};

enum class Control { Edit, ListBox, HiddenLabel, RecordLabel };

struct RecordLayout {
    const char* name;
    Control control;
    int left;
    int top;
    int width = 0;      // edits; a label's width is the window's
    int tabOrder = 0;   // edits
    bool hints = false; // Edit8 carries its hint settings
    EditState StateSnapshot::*edit = nullptr;
    LabelState StateSnapshot::*label = nullptr;
};

constexpr RecordLayout editRecord(const char* name, int left, int width, int tabOrder, bool hints,
                                  EditState StateSnapshot::*edit) {
    return {name, Control::Edit, left, 24, width, tabOrder, hints, edit, nullptr};
}

constexpr RecordLayout labelRecord(const char* name, Control control, int left, int top,
                                   LabelState StateSnapshot::*label) {
    return {name, control, left, top, 0, 0, false, nullptr, label};
}

const std::array<RecordLayout, StateRecordCount> Records = {
    editRecord("Edit3", 8, 161, 12, false, &StateSnapshot::Edit3),
    editRecord("Edit8", 184, 161, 13, true, &StateSnapshot::Edit8),
    labelRecord("Label15", Control::HiddenLabel, 120, 56, &StateSnapshot::Label15),
    editRecord("Edit7", 8, 337, 0, false, &StateSnapshot::Edit7),
    RecordLayout{"ListBox1", Control::ListBox, 8, 344},
    labelRecord("Label31", Control::HiddenLabel, 88, 48, &StateSnapshot::Label31),
    labelRecord("Label32", Control::HiddenLabel, 56, 48, &StateSnapshot::Label32),
    labelRecord("Label33", Control::HiddenLabel, 8, 48, &StateSnapshot::Label33),
    labelRecord("Label34", Control::HiddenLabel, 16, 56, &StateSnapshot::Label34),
    labelRecord("Label35", Control::HiddenLabel, 64, 48, &StateSnapshot::Label35),
    labelRecord("Label37", Control::HiddenLabel, 96, 56, &StateSnapshot::Label37),
    labelRecord("Label38", Control::HiddenLabel, 64, 56, &StateSnapshot::Label38),
    labelRecord("Label39", Control::HiddenLabel, 72, 56, &StateSnapshot::Label39),
    labelRecord("Label3a", Control::HiddenLabel, 96, 48, &StateSnapshot::Label3a),
    labelRecord("Label43", Control::RecordLabel, 472, 292, &StateSnapshot::Label43),
    labelRecord("Label41", Control::RecordLabel, 408, 250, &StateSnapshot::Label41),
    labelRecord("Label42", Control::RecordLabel, 472, 250, &StateSnapshot::Label42),
    labelRecord("Label44", Control::HiddenLabel, 352, 296, &StateSnapshot::Label44),
};

std::span<const PropertyDef> propertiesOf(Control control) {
    switch (control) {
    case Control::Edit:
        return EditProperties;
    case Control::ListBox:
        return ListBoxProperties;
    case Control::HiddenLabel:
    case Control::RecordLabel:
        break;
    }
    return LabelProperties;
}

const char* className(Control control) {
    switch (control) {
    case Control::Edit:
        return "TEdit";
    case Control::ListBox:
        return "TListBox";
    case Control::HiddenLabel:
    case Control::RecordLabel:
        break;
    }
    return "TLabel";
}

// ---- Writing

// "ＭＳ Ｐゴシック", 15 bytes in CP932.
const QString FontName = QStringLiteral("\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF");

class RecordWriter {
public:
    explicit RecordWriter(tpf0::Writer& writer)
        : w(writer) {}

    void begin(const RecordLayout& layout) {
        w.WriteSignature();
        w.WriteShortString(className(layout.control));
        w.WriteShortString(layout.name);
    }
    void end() {
        w.WriteEndMarker(); // properties
        w.WriteEndMarker(); // children
    }
    void integer(std::string_view name, std::int64_t value) {
        w.WriteShortString(name);
        w.WriteInteger(value);
    }
    void text(std::string_view name, const QString& value) {
        w.WriteShortString(name);
        w.WriteText(value);
    }
    void ident(std::string_view name, std::string_view value) {
        w.WriteShortString(name);
        w.WriteIdent(value);
    }
    void boolean(std::string_view name, bool value) {
        w.WriteShortString(name);
        w.WriteBoolean(value);
    }
    void bounds(int left, int top, int width, int height) {
        integer("Left", left);
        integer("Top", top);
        integer("Width", width);
        integer("Height", height);
    }
    void font(std::string_view color, int height) {
        ident("Font.Charset", "SHIFTJIS_CHARSET");
        ident("Font.Color", color);
        integer("Font.Height", height);
        text("Font.Name", FontName);
        w.WriteShortString("Font.Style");
        w.WriteSet({});
    }
    void strings(std::string_view name, const QStringList& lines) {
        w.WriteShortString(name);
        w.WriteListStart();
        for (const auto& line : lines)
            w.WriteText(line);
        w.WriteEndMarker();
    }

private:
    tpf0::Writer& w;
};

void writeEdit(RecordWriter& out, const RecordLayout& layout, const EditState& edit) {
    out.begin(layout);
    out.bounds(layout.left, layout.top, layout.width, 21);
    out.font("clWindowText", -13);
    out.ident("ImeMode", "imDisable");
    out.boolean("ParentFont", false);
    if (layout.hints) {
        out.boolean("ParentShowHint", false);
        out.boolean("ShowHint", true);
    }
    out.integer("TabOrder", layout.tabOrder);
    if (!edit.Text.isEmpty())
        out.text("Text", edit.Text);
    if (!edit.Visible)
        out.boolean("Visible", false);
    out.end();
}

void writeListBox(RecordWriter& out, const RecordLayout& layout, const QStringList& history) {
    out.begin(layout);
    out.bounds(layout.left, layout.top, 569, 73);
    out.boolean("TabStop", false);
    out.font("clWindowText", -11);
    out.integer("ItemHeight", 11);
    if (!history.isEmpty())
        out.strings("Items.Strings", history);
    out.boolean("ParentFont", false);
    out.integer("TabOrder", 7);
    out.end();
}

void writeLabel(RecordWriter& out, const RecordLayout& layout, const LabelState& label) {
    out.begin(layout);
    out.bounds(layout.left, layout.top, label.Width, 12);
    if (!label.Caption.isEmpty())
        out.text("Caption", label.Caption);
    if (layout.control == Control::RecordLabel) {
        out.font("clNavy", -12);
        out.boolean("ParentFont", false);
        if (!label.Visible)
            out.boolean("Visible", false);
    } else {
        out.boolean("Visible", false); // state holders are never shown
    }
    out.end();
}

// ---- Reading

struct Entry {
    std::string_view name;
    StateValue value;
};

const char* kindName(Kind kind) {
    switch (kind) {
    case Kind::Integer:
        return "an integer";
    case Kind::Text:
        return "a string";
    case Kind::Ident:
        return "an identifier";
    case Kind::IdentOrInteger:
        return "an identifier or an integer";
    case Kind::Boolean:
        return "a boolean";
    case Kind::Set:
        return "a set";
    case Kind::Strings:
        break;
    }
    return "a list of strings";
}

bool isIntegerProperty(Tag tag) {
    return tag == Tag::Int8 || tag == Tag::Int16 || tag == Tag::Int32;
}

QString identText(const std::string& bytes) {
    return QString::fromStdString(Cp932ToUtf8Lenient(bytes));
}

StateValue readValue(tpf0::Reader& reader, const PropertyDef& property) {
    const std::size_t at = reader.Position();
    const Tag tag = reader.ReadTag();
    const auto wrongKind = [&] {
        return tpf0::EReadError(at, std::string(property.name) + " holds tag " +
                                        std::to_string(static_cast<int>(tag)) + " where " +
                                        kindName(property.kind) + " was expected");
    };
    switch (property.kind) {
    case Kind::Integer:
        if (!isIntegerProperty(tag))
            throw wrongKind();
        return reader.ReadInteger(tag);
    case Kind::Text:
        if (!tpf0::IsStringTag(tag))
            throw wrongKind();
        return reader.ReadText(tag);
    case Kind::IdentOrInteger:
        if (isIntegerProperty(tag))
            return reader.ReadInteger(tag);
        [[fallthrough]];
    case Kind::Ident:
        if (tag != Tag::Ident)
            throw wrongKind();
        return identText(reader.ReadShortString());
    case Kind::Boolean:
        if (tag != Tag::False && tag != Tag::True)
            throw wrongKind();
        return tag == Tag::True;
    case Kind::Set: {
        if (tag != Tag::Set)
            throw wrongKind();
        QStringList members;
        for (const auto& member : reader.ReadSetMembers())
            members.append(identText(member));
        return members;
    }
    case Kind::Strings:
        break;
    }
    if (tag != Tag::List)
        throw wrongKind();
    QStringList lines;
    for (;;) {
        const std::size_t itemAt = reader.Position();
        const Tag item = reader.ReadTag();
        if (item == Tag::Null)
            return lines;
        if (!tpf0::IsStringTag(item))
            throw tpf0::EReadError(itemAt, std::string(property.name) + " holds tag " +
                                               std::to_string(static_cast<int>(item)) +
                                               " among its strings");
        lines.append(reader.ReadText(item));
    }
}

// Reads record `layout` whole before anything of it is applied.
std::vector<Entry> readRecord(tpf0::Reader& reader, const RecordLayout& layout) {
    reader.ReadSignature();
    reader.ReadShortString(); // the class name is not checked
    const std::size_t nameAt = reader.Position();
    const std::string name = reader.ReadShortString();
    if (name != layout.name)
        throw tpf0::EReadError(nameAt, "the record names \"" + name + "\"");

    const auto known = propertiesOf(layout.control);
    std::vector<Entry> entries;
    while (!reader.ReadEndMarker()) {
        const std::size_t at = reader.Position();
        const std::string property = reader.ReadShortString();
        const auto found = std::find_if(known.begin(), known.end(),
                                        [&](const PropertyDef& p) { return p.name == property; });
        if (found == known.end())
            throw tpf0::EReadError(at, "unknown property \"" + property + "\"");
        entries.push_back({found->name, readValue(reader, *found)});
    }
    if (!reader.ReadEndMarker())
        throw tpf0::EReadError(reader.Position(), "the record has child components");
    return entries;
}

// What every read ends with, whether it failed or not.
void finishRead(const StateReadResult& result, StateTarget& target) {
    if (result.failed())
        target.Apply(StateRecord::ListBox1, "Items.Strings", QStringList{});
    target.Apply(StateRecord::Edit7, "Visible", true);
}

} // namespace

const char* StateRecordName(StateRecord record) {
    return Records.at(static_cast<std::size_t>(record)).name;
}

void SnapshotTarget::Apply(StateRecord record, std::string_view property, const StateValue& value) {
    const RecordLayout& layout = Records.at(static_cast<std::size_t>(record));
    const auto* text = std::get_if<QString>(&value);
    const auto* flag = std::get_if<bool>(&value);
    if (layout.edit) {
        EditState& edit = m_state.*layout.edit;
        if (property == "Text" && text)
            edit.Text = *text;
        else if (property == "Visible" && flag)
            edit.Visible = *flag;
    } else if (layout.label) {
        LabelState& label = m_state.*layout.label;
        if (property == "Caption" && text)
            label.Caption = *text;
        else if (property == "Visible" && flag)
            label.Visible = *flag;
    } else if (property == "Items.Strings") {
        if (const auto* lines = std::get_if<QStringList>(&value))
            m_state.ListBox1 = *lines;
    }
}

StateReadResult ReadState(std::string_view data, StateTarget& target) {
    StateReadResult result;
    tpf0::Reader reader(data);
    for (const RecordLayout& layout : Records) {
        std::vector<Entry> entries;
        try {
            entries = readRecord(reader, layout);
        } catch (const Exception& e) {
            result.status = StateReadResult::Status::Failed;
            result.reason =
                QStringLiteral("record %1 (%2): %3")
                    .arg(result.recordsRead + 1)
                    .arg(QLatin1String(layout.name), QString::fromStdString(e.Message()));
            break;
        }
        const auto record = static_cast<StateRecord>(&layout - Records.data());
        for (const Entry& entry : entries)
            target.Apply(record, entry.name, entry.value);
        ++result.recordsRead;
    }
    finishRead(result, target);
    return result;
}

StateReadResult ReadState(std::string_view data, StateSnapshot& state) {
    SnapshotTarget target(state);
    return ReadState(data, target);
}

StateReadResult ReadStateFile(const QString& path, StateTarget& target) {
    StateReadResult result;
    const QByteArray name = QFile::encodeName(path);
    const auto fail = [&](const QString& why) {
        result.status = StateReadResult::Status::Failed;
        result.reason = path + QStringLiteral(": ") + why;
        finishRead(result, target);
        return result;
    };
    const auto systemError = [] { return QString::fromLocal8Bit(std::strerror(errno)); };

    // Only a regular file is opened at all: the open of a FIFO would wait for a writer, for
    // ever and deaf to signals, and a device may act on an open. O_NONBLOCK covers the swap
    // of the file between the look and the open.
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            result.status = StateReadResult::Status::Missing;
            return result;
        }
        return fail(systemError());
    }
    if (!S_ISREG(st.st_mode))
        return fail(QStringLiteral("not a regular file"));
    result.regularFile = true;
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return fail(systemError());
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(file.errorString());
    }
    if (::fstat(fd, &st) != 0)
        return fail(systemError());
    if (!S_ISREG(st.st_mode)) {
        result.regularFile = false;
        return fail(QStringLiteral("not a regular file"));
    }
    result.oversized = st.st_size > MaxStateFileSize;
    const QByteArray data = file.read(std::min<qint64>(st.st_size, MaxStateFileSize));
    if (file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    const StateReadResult read =
        ReadState(std::string_view(data.constData(), std::size_t(data.size())), target);
    result.status = read.status;
    result.recordsRead = read.recordsRead;
    result.reason = read.reason;
    if (result.oversized)
        result.reason =
            path +
            QStringLiteral(": larger than %1 bytes, read up to there").arg(MaxStateFileSize) +
            (read.failed() ? QStringLiteral("; ") + read.reason : QString());
    return result;
}

StateReadResult ReadStateFile(const QString& path, StateSnapshot& state) {
    SnapshotTarget target(state);
    return ReadStateFile(path, target);
}

std::string EncodeState(const StateSnapshot& state) {
    tpf0::Writer writer;
    RecordWriter out(writer);
    for (const RecordLayout& layout : Records) {
        switch (layout.control) {
        case Control::Edit:
            writeEdit(out, layout, state.*layout.edit);
            break;
        case Control::ListBox:
            writeListBox(out, layout, state.ListBox1);
            break;
        case Control::HiddenLabel:
        case Control::RecordLabel:
            writeLabel(out, layout, state.*layout.label);
            break;
        }
    }
    return writer.Data();
}

StateWriteResult WriteStateFile(const QString& path, const StateSnapshot& state) {
    StateWriteResult result;
    result.reason = WriteFileAtomically(path, EncodeState(state));
    result.ok = result.reason.isEmpty();
    if (!result.ok)
        result.error = result.reason.mid(path.size() + 2); // after "<path>: "
    return result;
}
