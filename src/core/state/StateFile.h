// The state file "qm1.dat": 18 component records holding the user's state between runs.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

inline constexpr auto StateFileName = "qm1.dat";

// The records, in file order.
enum class StateRecord {
    Edit3,
    Edit8,
    Label15,
    Edit7,
    ListBox1,
    Label31,
    Label32,
    Label33,
    Label34,
    Label35,
    Label37,
    Label38,
    Label39,
    Label3a,
    Label43,
    Label41,
    Label42,
    Label44,
};
inline constexpr int StateRecordCount = 18;

// The control's name, as stored in its record ("Edit3", "Label3a", ...).
const char* StateRecordName(StateRecord record);

struct EditState {
    QString Text;
    bool Visible = true;
    bool operator==(const EditState&) const = default;
};

struct LabelState {
    QString Caption;
    int Width = 0; // pixels; follows the caption in the window
    bool Visible = false;
    bool operator==(const LabelState&) const = default;
};

// What the window stores: everything the file carries, by control.
struct StateSnapshot {
    EditState Edit3{{}, false}; // SMTP server
    EditState Edit8{{}, false}; // mail address
    EditState Edit7;            // the URL box
    QStringList ListBox1;       // the history, first line first
    LabelState Label15;         // saved URLs 1 to 5
    LabelState Label31;
    LabelState Label32;
    LabelState Label37;
    LabelState Label38;
    LabelState Label33; // saved-URL slot names 1 to 5
    LabelState Label34;
    LabelState Label35;
    LabelState Label39;
    LabelState Label3a;
    LabelState Label41; // fastest record: title, kbps, Mbps, "true"/"false"
    LabelState Label42;
    LabelState Label43;
    LabelState Label44;
    bool operator==(const StateSnapshot&) const = default;
};

// A property value as the reader hands it on: integers; booleans; strings and identifiers;
// string lists and sets.
using StateValue = std::variant<std::int64_t, bool, QString, QStringList>;

// Receives what the reader takes from the file. A record's properties are handed on only once
// the whole record has been read, each name and kind already checked against the control.
class StateTarget {
public:
    virtual ~StateTarget() = default;
    virtual void Apply(StateRecord record, std::string_view property, const StateValue& value) = 0;
};

// Applies a file to a snapshot that holds the window's values: "Text", "Caption", "Visible"
// and "Items.Strings"; the layout properties are left to the window.
class SnapshotTarget final : public StateTarget {
public:
    explicit SnapshotTarget(StateSnapshot& state)
        : m_state(state) {}
    void Apply(StateRecord record, std::string_view property, const StateValue& value) override;

private:
    StateSnapshot& m_state;
};

struct StateReadResult {
    enum class Status { Read, Missing, Failed };
    Status status = Status::Read;
    int recordsRead = 0;      // records applied whole
    QString reason;           // what went wrong, for a failed read
    bool regularFile = false; // the path names a regular file, readable or not
    bool oversized = false;   // only the first MaxStateFileSize bytes were read
    bool failed() const noexcept { return status == Status::Failed; }
    // A regular file whose contents did not all come back: a save would destroy the rest.
    bool damaged() const noexcept { return regularFile && (failed() || oversized); }
};

struct StateWriteResult {
    bool ok = true;
    QString reason; // the file and the system's error, for a failed write
    QString error;  // the system's error alone ("No space left on device")
};

// Reads the records one by one into the target. On any fault reading stops there: records
// already applied stay, the history is emptied (an empty "Items.Strings" for ListBox1).
// Whatever the outcome, the URL box is then made visible (a file written in upload mode
// hides it).
StateReadResult ReadState(std::string_view data, StateTarget& target);
StateReadResult ReadState(std::string_view data, StateSnapshot& state);

// As ReadState, from a file. A missing file is read as nothing at all (status Missing, the
// target untouched); anything but a regular file (a FIFO, a device, a directory) and a file
// that cannot be opened fail without a byte read. A file larger than MaxStateFileSize is
// read as if it ended there.
StateReadResult ReadStateFile(const QString& path, StateTarget& target);
StateReadResult ReadStateFile(const QString& path, StateSnapshot& state);
inline constexpr std::int64_t MaxStateFileSize = 64 * 1024 * 1024;

// The 18 records of the snapshot.
std::string EncodeState(const StateSnapshot& state);

// Writes the file so that a crash, a kill or a full disk leaves the old one whole: a new file
// beside it, flushed to disk, then renamed over it.
StateWriteResult WriteStateFile(const QString& path, const StateSnapshot& state);
