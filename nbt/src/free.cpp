// Releasing trees. Every block of a tree has one owner, so freeing walks
// down from the owner and releases each block exactly once. A null pointer
// is nothing to free, as with free() itself.
//
// The walk recurses once per level of list or compound. That is bounded in
// practice: the reader refuses documents nested deeper than 512 levels, and
// trees built by hand are as deep as their builder made them.

#include "nbt/nbt.h"

#include "block_cache.h"

#include <cstdlib>

extern "C" {

int nbt_free(nbt_file *nbt) {
    // The stream handle belongs to whichever reader or writer call opened
    // it, and is closed there; here it is stale and left alone.
    if (nbt == nullptr) {
        return 0;
    }
    if (nbt->root != nullptr) {
        nbt_free_tag(nbt->root);
    }
    nbt_detail::cache_free(nbt);
    return 0;
}

int nbt_free_tag(nbt_tag *t) {
    if (t == nullptr) {
        return 0;
    }
    nbt_detail::cache_free(t->name);
    nbt_free_type(t->type, t->value);
    nbt_detail::cache_free(t);
    return 0;
}

int nbt_free_type(nbt_type type, void *payload) {
    if (payload == nullptr) {
        return 0;
    }
    switch (type) {
    case TAG_BYTE:
    case TAG_SHORT:
    case TAG_INT:
    case TAG_LONG:
    case TAG_FLOAT:
    case TAG_DOUBLE:
    case TAG_STRING:
        nbt_detail::cache_free(payload);
        return 0;
    case TAG_BYTE_ARRAY:
        return nbt_free_byte_array(static_cast<nbt_byte_array *>(payload));
    case TAG_INT_ARRAY:
        return nbt_free_int_array(static_cast<nbt_int_array *>(payload));
    case TAG_LONG_ARRAY:
        return nbt_free_long_array(static_cast<nbt_long_array *>(payload));
    case TAG_LIST:
        return nbt_free_list(static_cast<nbt_list *>(payload));
    case TAG_COMPOUND:
        return nbt_free_compound(static_cast<nbt_compound *>(payload));
    case TAG_END:
        // An end tag never owns a payload; whatever was passed belongs to
        // someone else, so it is reported rather than released.
        return 1;
    }
    // Unassigned type numbers carry no payload of their own.
    return 0;
}

int nbt_free_byte_array(nbt_byte_array *a) {
    if (a == nullptr) {
        return 0;
    }
    nbt_detail::cache_free(a->content);
    nbt_detail::cache_free(a);
    return 0;
}

int nbt_free_int_array(nbt_int_array *a) {
    if (a == nullptr) {
        return 0;
    }
    nbt_detail::cache_free(a->content);
    nbt_detail::cache_free(a);
    return 0;
}

int nbt_free_long_array(nbt_long_array *a) {
    if (a == nullptr) {
        return 0;
    }
    nbt_detail::cache_free(a->content);
    nbt_detail::cache_free(a);
    return 0;
}

int nbt_free_list(nbt_list *l) {
    if (l == nullptr) {
        return 0;
    }
    // A negative count means no items; slots of a payload-less element
    // type may be null, which nbt_free_type accepts.
    if (l->content != nullptr) {
        for (int32_t i = 0; i < l->length; ++i) {
            nbt_free_type(l->type, l->content[i]);
        }
    }
    nbt_detail::cache_free(l->content);
    nbt_detail::cache_free(l);
    return 0;
}

int nbt_free_compound(nbt_compound *c) {
    if (c == nullptr) {
        return 0;
    }
    if (c->tags != nullptr) {
        for (int32_t i = 0; i < c->length; ++i) {
            if (c->tags[i] != nullptr) {
                nbt_free_tag(c->tags[i]);
            }
        }
    }
    nbt_detail::cache_free(c->tags);
    nbt_detail::cache_free(c);
    return 0;
}

} // extern "C"
