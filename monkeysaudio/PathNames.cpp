#include "monkeysaudio/PathNames.h"

namespace {

constexpr char separator = '\\';

bool endsWith(const std::string& text, char last)
{
    return !text.empty() && text.back() == last;
}

bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void dropTrailingSeparator(std::string& path)
{
    if (endsWith(path, separator))
        path.pop_back();
}

std::string firstComponent(const std::string& path)
{
    const std::string::size_type at = path.find(separator);
    if (at == std::string::npos)
        return path;
    if (at == 0)
        return std::string(1, separator);
    return path.substr(0, at);
}

std::string lastComponent(const std::string& path)
{
    const std::string::size_type at = path.rfind(separator);
    return at == std::string::npos ? path : path.substr(at + 1);
}

// A path without a separator has nothing left once its only component goes.
std::string withoutFirstComponent(const std::string& path)
{
    const std::string::size_type at = path.find(separator);
    return at == std::string::npos ? std::string() : path.substr(at + 1);
}

std::string withoutLastComponent(const std::string& path)
{
    const std::string::size_type at = path.rfind(separator);
    return at == std::string::npos ? std::string() : path.substr(0, at);
}

bool isDrive(const std::string& component)
{
    return endsWith(component, ":\\");
}

} // namespace

std::string pathComponent(const std::string& path, int n)
{
    std::string rest = path;
    dropTrailingSeparator(rest);
    std::string component;
    if (n >= 0) {
        for (; n > 0; --n)
            rest = withoutFirstComponent(rest);
        component = firstComponent(rest);
    } else {
        for (; n < -1; ++n)
            rest = withoutLastComponent(rest);
        component = lastComponent(rest);
    }
    if (endsWith(component, ':'))
        component += separator;
    return component;
}

std::string parentDirectory(const std::string& path)
{
    // A drive gains a backslash as a component, so it may be longer than the
    // text it came from.
    const std::string::size_type last = pathComponent(path, -1).size();
    std::string head = last < path.size() ? path.substr(0, path.size() - last) : std::string();
    if (head.empty() || endsWith(head, ":\\"))
        return head;
    head.pop_back();
    return head;
}

std::string joinPath(std::string base, std::string name)
{
    if (endsWith(pathComponent(name, 0), separator) || base.empty())
        return name;
    if (endsWith(name, separator) || endsWith(name, ':'))
        return std::string();
    dropTrailingSeparator(base);
    while (!base.empty()) {
        if (pathComponent(name, 0) != "..") {
            const bool withSeparator = endsWith(base, ':') || !name.empty();
            return base + (withSeparator ? std::string(1, separator) : std::string()) + name;
        }
        name.erase(0, 3);
        const std::string last = pathComponent(base, -1);
        if (!isDrive(last) && last != std::string(1, separator)) {
            base.erase(base.size() - last.size());
            dropTrailingSeparator(base);
        }
    }
    return name;
}
