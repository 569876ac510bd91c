#include "escaped_tree.h"

#include "lodecast/pipeline/output.h"

#include <cstdlib>
#include <cstring>

namespace nbtdump {

namespace {

bool has_controls(const char *s) {
    for (; *s != '\0'; ++s) {
        const auto u = static_cast<unsigned char>(*s);
        if (u < 0x20 || u == 0x7f) {
            return true;
        }
    }
    return false;
}

// A malloc'd copy of s with its control characters escaped, or null.
char *escaped_copy(const char *s) {
    const std::string text = shown(s);
    char *out = static_cast<char *>(std::malloc(text.size() + 1));
    if (out != nullptr) {
        std::memcpy(out, text.c_str(), text.size() + 1);
    }
    return out;
}

bool escape_payload(nbt_type type, void *value) {
    if (value == nullptr) {
        return true;
    }
    if (type == TAG_COMPOUND) {
        auto *c = static_cast<nbt_compound *>(value);
        for (int32_t i = 0; i < c->length; ++i) {
            if (!escape_controls(c->tags[i])) {
                return false;
            }
        }
    } else if (type == TAG_LIST) {
        auto *l = static_cast<nbt_list *>(value);
        for (int32_t i = 0; i < l->length; ++i) {
            if (l->type == TAG_STRING && l->content[i] != nullptr &&
                has_controls(static_cast<char *>(l->content[i]))) {
                char *copy = escaped_copy(static_cast<char *>(l->content[i]));
                if (copy == nullptr) {
                    return false;
                }
                std::free(l->content[i]);
                l->content[i] = copy;
            } else if (!escape_payload(l->type, l->content[i])) {
                return false;
            }
        }
    }
    return true;
}

} // namespace

bool escape_controls(nbt_tag *tag) {
    if (tag->name != nullptr && has_controls(tag->name) &&
        nbt_change_name(tag, shown(tag->name).c_str()) != 0) {
        return false;
    }
    const char *s = tag->type == TAG_STRING ? static_cast<char *>(tag->value) : nullptr;
    if (s != nullptr && has_controls(s) && nbt_set_string(tag, shown(s).c_str()) != 0) {
        return false;
    }
    return escape_payload(tag->type, tag->value);
}

} // namespace nbtdump
