#include "core/net/Nmextstr.h"

#include "core/net/SocketSupport.h"

void TExStringList::Delete(int index) {
    if (index >= 0 && index < Count())
        m_lines.erase(m_lines.begin() + index);
}

int TExStringList::IndexOfName(const std::string& name) const {
    for (int i = 0; i < Count(); ++i) {
        const auto colon = m_lines[i].find(':');
        if (colon != std::string::npos && SameText(m_lines[i].substr(0, colon), name))
            return i;
    }
    return -1;
}

void TExStringList::SetValue(const std::string& name, const std::string& value) {
    const int index = IndexOfName(name);
    if (value.empty()) {
        Delete(index);
    } else if (index >= 0) {
        m_lines[index] = name + ": " + value;
    } else {
        m_lines.push_back(name + ": " + value);
    }
}

std::string TExStringList::GetValue(const std::string& name) const {
    const int index = IndexOfName(name);
    if (index < 0)
        return {};
    std::string value = m_lines[index].substr(name.size() + 1);
    if (!value.empty() && value.front() == ' ')
        value.erase(0, 1);
    return value;
}
