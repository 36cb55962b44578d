// Sorted cell lists, value lists and keyed lists.
#include <liblocal/volists.h>
#include <liblocal/xalloc.h>

#include <cstdlib>
#include <cstring>

int list_addelem(vo_cell *cell, vo_cell **head, vo_cell **rejected, vo_cell_compare compare)
{
    if (cell == nullptr || head == nullptr || compare == nullptr)
        return -1;
    if (rejected != nullptr)
        *rejected = nullptr;
    vo_cell **link = head;
    while (*link != nullptr) {
        const int order = compare(cell->data, (*link)->data);
        if (order == 0) {
            if (rejected != nullptr)
                *rejected = cell;
            return 0;
        }
        if (order < 0)
            break;
        link = &(*link)->next;
    }
    cell->next = *link;
    *link = cell;
    return 1;
}

void list_free_1(vo_cell *list, void (*free_data)(void *))
{
    while (list != nullptr) {
        vo_cell *next = list->next;
        if (free_data != nullptr)
            free_data(list->data);
        std::free(list);
        list = next;
    }
}

vo_vallist *vallist_add(vo_vallist **list, const char *text)
{
    if (list == nullptr || text == nullptr)
        return nullptr;
    vo_vallist *element = static_cast<vo_vallist *>(xcalloc(1, sizeof(vo_vallist)));
    element->value = xstrdup(text);
    vo_vallist **link = list;
    while (*link != nullptr)
        link = &(*link)->next;
    *link = element;
    return element;
}

void vallist_free(vo_vallist *list)
{
    while (list != nullptr) {
        vo_vallist *next = list->next;
        std::free(list->value);
        std::free(list);
        list = next;
    }
}

namespace {

struct KeyedElement {
    KeyedElement *next;
    const char *key;
    void *value;
};

} // namespace

struct vo_list {
    KeyedElement *first;
    KeyedElement *last;
    size_t size;
    vo_list_free freeValue;
    vo_list_free freeKey;
    vo_list_key_compare compareKeys;
    int flags;
};

namespace {

const KeyedElement *FindElement(const vo_list *list, const char *key)
{
    for (const KeyedElement *element = list->first; element != nullptr; element = element->next) {
        const int order = list->compareKeys ? list->compareKeys(element->key, key) : std::strcmp(element->key, key);
        if (order == 0)
            return element;
    }
    return nullptr;
}

} // namespace

vo_list *vo_list_new(vo_list_free free_value, vo_list_free free_key, vo_list_key_compare compare_keys,
                     void *reserved, int flags)
{
    if (reserved != nullptr || (flags & ~VO_LIST_UNIQUE_KEYS) != 0)
        return nullptr;
    vo_list *list = static_cast<vo_list *>(xcalloc(1, sizeof(vo_list)));
    list->freeValue = free_value;
    list->freeKey = free_key;
    list->compareKeys = compare_keys;
    list->flags = flags;
    return list;
}

int vo_list_append(vo_list *list, const char *key, void *value)
{
    if (list == nullptr || key == nullptr)
        return -1;
    if ((list->flags & VO_LIST_UNIQUE_KEYS) && FindElement(list, key) != nullptr)
        return 1;
    KeyedElement *element = static_cast<KeyedElement *>(xcalloc(1, sizeof(KeyedElement)));
    element->key = key;
    element->value = value;
    if (list->last != nullptr)
        list->last->next = element;
    else
        list->first = element;
    list->last = element;
    ++list->size;
    return 0;
}

int vo_list_find(const vo_list *list, const char *key, void **value)
{
    if (list == nullptr || key == nullptr)
        return -1;
    const KeyedElement *element = FindElement(list, key);
    if (element == nullptr)
        return 1;
    if (value != nullptr)
        *value = element->value;
    return 0;
}

size_t vo_list_size(const vo_list *list) { return list ? list->size : 0; }

void vo_list_destroy(vo_list *list)
{
    if (list == nullptr)
        return;
    for (KeyedElement *element = list->first; element != nullptr;) {
        KeyedElement *next = element->next;
        const bool keyIsValue = static_cast<const void *>(element->key) == element->value;
        if (list->freeValue != nullptr)
            list->freeValue(element->value);
        if (list->freeKey != nullptr && !(keyIsValue && list->freeValue != nullptr))
            list->freeKey(const_cast<char *>(element->key));
        std::free(element);
        element = next;
    }
    std::free(list);
}
