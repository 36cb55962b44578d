// C++ only: a class, with no C form.
//
// stringlist: an ordered list of tv_str for names, paths and properties. The object is one
// pointer to its storage, made on first need; a list without storage reads as empty.
// Elements are full tv_str values, so copying a list shares the texts' buffers.
#pragma once

#include <libwinclass/tv_str.h>

#include <cstddef>

class stringlistimpl;

class WINCLASS_API stringlist {
public:
    stringlist();
    // The copy always has storage, empty or not.
    stringlist(const stringlist &other);
    ~stringlist();

    stringlist &operator=(const stringlist &other);
    // Appends copies of the other's elements as they were before the call (so a list
    // appended to itself doubles).
    stringlist &operator+=(const stringlist &other);

    // The element at a position. Reads outside the list (or of a list without storage)
    // return a shared empty string, reset to empty on every such read.
    tv_str &operator[](size_t index) const;
    tv_str &front() const;
    tv_str &back() const;

    // Safe with an element of this same list.
    void push_back(const tv_str &item);
    // Nothing happens on an empty list.
    void pop_back();
    // Before the given position: 0 is the front, size() the end; beyond size() nothing.
    void insert(unsigned int position, const tv_str &item);
    // Drops the elements; the storage and its capacity stay.
    void clear();

    // Exact, unit by unit.
    bool contains(tv_str &item);
    // The UTF-8 texts compared ignoring the case of ASCII letters.
    bool icontains(tv_str &item);
    // The elements' UTF-8 texts joined with the separator byte between them.
    tv_str image(char separator) const;

    int size() const;
    bool isempty() const;
    // The storage itself (NULL before the first need); the list keeps it.
    stringlistimpl *get_data();

private:
    // Adopts the storage (NULL allowed); the list destroys it.
    explicit stringlist(stringlistimpl *impl);

    stringlistimpl *m_impl;
};
