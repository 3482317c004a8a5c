#pragma once
// The lines of a text, split at LF: for (std::string_view line : TextLines(text)).
// A line keeps a CR before its LF; a final LF starts no empty line. Pure: no I/O.

#include <cstddef>
#include <iterator>
#include <string_view>

namespace net {

class TextLines {
public:
    explicit TextLines(std::string_view text) : m_text(text) {}

    class iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = const std::string_view*;
        using reference = std::string_view;

        iterator() = default;
        iterator(std::string_view text, std::size_t pos) : m_text(text), m_pos(pos) { find(); }
        std::string_view operator*() const { return m_text.substr(m_pos, m_end - m_pos); }
        iterator& operator++()
        {
            m_pos = m_end + 1;
            find();
            return *this;
        }
        bool operator==(const iterator& other) const { return m_pos == other.m_pos; }

    private:
        void find()
        {
            if (m_pos >= m_text.size()) {
                m_pos = m_end = m_text.size();
                return;
            }
            m_end = m_text.find('\n', m_pos);
            if (m_end == std::string_view::npos)
                m_end = m_text.size();
        }

        std::string_view m_text;
        std::size_t m_pos = 0;
        std::size_t m_end = 0;
    };

    iterator begin() const { return iterator(m_text, 0); }
    iterator end() const { return iterator(m_text, m_text.size()); }

private:
    std::string_view m_text;
};

}  // namespace net
