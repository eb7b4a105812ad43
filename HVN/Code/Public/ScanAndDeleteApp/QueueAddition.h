// NSMutableArray(QueueAddition): a growable array used as a stack by the folder walks.
// push appends; pop removes and returns the last element, or nothing for an empty array.
// Not synchronised: an array belongs to the thread that walks with it.
#pragma once

#include <optional>
#include <utility>
#include <vector>

namespace QueueAddition {

template <class T, class U>
void push(std::vector<T>& array, U&& object) {
    array.push_back(std::forward<U>(object));
}

template <class T>
std::optional<T> pop(std::vector<T>& array) {
    if (array.empty()) return std::nullopt;
    std::optional<T> last(std::move(array.back()));
    array.pop_back();
    return last;
}

}  // namespace QueueAddition
