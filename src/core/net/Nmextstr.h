// The request header list: lines of a name, ": " and a value.
#pragma once

#include <string>
#include <vector>

class TExStringList final {
public:
    int Count() const noexcept { return static_cast<int>(m_lines.size()); }
    const std::string& operator[](int index) const { return m_lines.at(index); }
    const std::vector<std::string>& Lines() const noexcept { return m_lines; }
    void Add(const std::string& line) { m_lines.push_back(line); }
    void Delete(int index);
    void Clear() noexcept { m_lines.clear(); }

    // First line whose text before its first ':' equals name, ignoring ASCII case; -1 if none.
    int IndexOfName(const std::string& name) const;
    // A non-empty value replaces or appends "name: value"; an empty one deletes the line.
    void SetValue(const std::string& name, const std::string& value);
    // The text after "name:", less one leading blank; empty when there is no such line.
    std::string GetValue(const std::string& name) const;

private:
    std::vector<std::string> m_lines;
};
