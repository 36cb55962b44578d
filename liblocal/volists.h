// Lists of the runtime: sorted cell lists, value lists and keyed lists.
#pragma once

#include <liblocal/localapi.h>

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// A cell of a sorted singly linked list; the caller allocates it (malloc/xcalloc), sets
// `data` to its record and `next` to NULL, and hands it to list_addelem.
typedef struct vo_cell {
    struct vo_cell *next;
    void *data;
} vo_cell;

// Compares two records (the `data` of two cells): negative when a sorts first, 0 when
// equal, positive otherwise.
typedef int (*vo_cell_compare)(const void *a, const void *b);

// Links cell into the list at *head, kept in ascending order of compare. When an equal
// record is already there the cell is not linked: it is handed back through *rejected and
// stays the caller's to free; otherwise *rejected is set to NULL. rejected may be NULL only
// when the caller keeps its own pointer to the cell. Returns 1 when linked, 0 when handed
// back, -1 (nothing done) for a NULL cell, head or compare.
LOCAL_API int list_addelem(vo_cell *cell, vo_cell **head, vo_cell **rejected, vo_cell_compare compare);

// Frees every cell of the list, after free_data(cell->data) when free_data is given.
LOCAL_API void list_free_1(vo_cell *list, void (*free_data)(void *));

// A value list: texts in the order they were added.
typedef struct vo_vallist {
    struct vo_vallist *next;
    char *value;
} vo_vallist;

// Appends a copy of text at the end of the list at *list (an empty list is a NULL head).
// Returns the new element, NULL (nothing added) for a NULL list or text.
LOCAL_API vo_vallist *vallist_add(vo_vallist **list, const char *text);

// Frees a value list with its texts.
LOCAL_API void vallist_free(vo_vallist *list);

// A keyed list: values in the order appended, each under a text key.
typedef struct vo_list vo_list;
typedef void (*vo_list_free)(void *);
typedef int (*vo_list_key_compare)(const char *a, const char *b);

// A new list. free_value releases values and free_key keys when the list is destroyed
// (either may be NULL; a key that is the same pointer as its value is released once, by
// free_value). compare_keys decides equality in vo_list_find (0 = equal), e.g. _stricmp;
// NULL means strcmp. reserved must be NULL and flags 0 (or VO_LIST_UNIQUE_KEYS); otherwise
// the result is NULL.
#define VO_LIST_UNIQUE_KEYS 0x1 // vo_list_append refuses a key already present
LOCAL_API vo_list *vo_list_new(vo_list_free free_value, vo_list_free free_key,
                               vo_list_key_compare compare_keys, void *reserved, int flags);

// Appends value under key. 0 on success; 1 when the list refuses a key already present
// (VO_LIST_UNIQUE_KEYS; the caller keeps key and value); -1 for a NULL list or key.
LOCAL_API int vo_list_append(vo_list *list, const char *key, void *value);

// Looks up the first element whose key compares equal. 0 when found (*value, when given,
// receives its value); 1 when not found and -1 for a NULL list or key (*value untouched).
LOCAL_API int vo_list_find(const vo_list *list, const char *key, void **value);

// The number of elements; 0 for NULL.
LOCAL_API size_t vo_list_size(const vo_list *list);

// Frees the list, its keys and values as vo_list_new was told. NULL is harmless.
LOCAL_API void vo_list_destroy(vo_list *list);

#ifdef __cplusplus
}
#endif
