// One input through the state file reader, with the properties every input must keep.
#pragma once

#include "core/state/Cp932.h"
#include "core/state/StateFile.h"
#include "core/state/Tpf0.h"

#include <optional>
#include <string>
#include <string_view>

namespace statefilefuzz {

struct Outcome {
    StateReadResult::Status status = StateReadResult::Status::Failed;
    std::optional<std::string> violation; // a broken property, if any
};

inline std::optional<std::string> textsDiffer(const StateSnapshot& a, const StateSnapshot& b) {
    const LabelState StateSnapshot::*labels[] = {
        &StateSnapshot::Label15, &StateSnapshot::Label31, &StateSnapshot::Label32,
        &StateSnapshot::Label33, &StateSnapshot::Label34, &StateSnapshot::Label35,
        &StateSnapshot::Label37, &StateSnapshot::Label38, &StateSnapshot::Label39,
        &StateSnapshot::Label3a, &StateSnapshot::Label41, &StateSnapshot::Label42,
        &StateSnapshot::Label43, &StateSnapshot::Label44};
    for (const auto label : labels) {
        if ((a.*label).Caption != (b.*label).Caption)
            return "a caption changed on rewriting";
    }
    if (a.Edit3.Text != b.Edit3.Text || a.Edit8.Text != b.Edit8.Text ||
        a.Edit7.Text != b.Edit7.Text)
        return "an edit text changed on rewriting";
    if (a.ListBox1 != b.ListBox1)
        return "the history changed on rewriting";
    return std::nullopt;
}

// Reads `data` as a state file and checks: the read ends in success or a clean failure that
// follows the failure rule; whatever was read is written and read back unchanged; the generic
// record reader and the CP932 conversion hold up on the same bytes.
inline Outcome Check(std::string_view data) {
    Outcome outcome;
    StateSnapshot read; // all texts empty, so an entry left out on writing reads back the same
    read.Edit7.Visible = false;
    const auto result = ReadState(data, read);
    outcome.status = result.status;
    if (result.status == StateReadResult::Status::Missing)
        outcome.violation = "a read from memory reported a missing file";
    else if (result.recordsRead < 0 || result.recordsRead > StateRecordCount)
        outcome.violation = "record count out of range";
    else if (result.failed() && (!read.ListBox1.isEmpty() || result.reason.isEmpty()))
        outcome.violation = "a failed read kept the history or gave no reason";
    else if (!result.failed() && result.recordsRead != StateRecordCount)
        outcome.violation = "a successful read missed records";
    else if (!read.Edit7.Visible)
        outcome.violation = "the URL box stayed hidden";
    if (outcome.violation)
        return outcome;

    StateSnapshot again;
    const std::string rewritten = EncodeState(read);
    const auto second = ReadState(rewritten, again);
    if (second.failed())
        outcome.violation = "a rewritten file failed to read: " + second.reason.toStdString();
    else
        outcome.violation = textsDiffer(read, again);
    if (outcome.violation)
        return outcome;

    tpf0::Reader records(data);
    try {
        while (!records.AtEnd())
            records.ReadRecord();
    } catch (const tpf0::EReadError&) {
    }
    tpf0::Reader values(data);
    try {
        values.ReadValue();
    } catch (const tpf0::EReadError&) {
    }

    const auto strict = Cp932ToUtf8(data);
    if (strict && Cp932ToUtf8Lenient(data) != *strict)
        outcome.violation = "lenient and strict CP932 decoding differ on valid bytes";
    else if (const auto encoded = Utf8ToCp932(data); encoded && Cp932ToUtf8(*encoded) != data)
        outcome.violation = "a representable text did not come back from CP932";
    return outcome;
}

} // namespace statefilefuzz
