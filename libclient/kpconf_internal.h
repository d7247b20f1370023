// Helpers shared by the parts of the kp.conf reader (readers, formatting,
// parser): the syntax's white space, the log line, the cut-out token, slot
// access and the allocation guard.
#pragma once

#include "kpconf_api.h"

#include <new>
#include <stdexcept>

namespace kpconf_detail {

// White space of the configuration syntax. Fixed rather than isspace() so
// that bytes from 128 up never count as blanks, whatever the locale.
inline bool is_conf_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

inline char *skip_space(char *p) {
    while (is_conf_space(*p)) {
        ++p;
    }
    return p;
}

// Puts the character cut out by getConfigTokenA back however the reader ends
// (early returns, exceptions).
class token_cut {
  public:
    token_cut(char *at, int kind) {
        cur_.next = at;
        saved_ = getConfigTokenA(&cur_, kind);
    }
    ~token_cut() { putBackConfigTokenA(&cur_, saved_); }
    token_cut(const token_cut &) = delete;
    token_cut &operator=(const token_cut &) = delete;

    bool ok() const { return saved_ != -1; }
    char *token() const { return cur_.token; }
    char *next() const { return cur_.next; }

  private:
    kp_cursor cur_;
    int saved_ = -1;
};

template <typename T> T *slot_as(kp_slot field) {
    T **p = std::get_if<T *>(&field);
    return p != nullptr ? *p : nullptr;
}

// Every public reader turns a failed allocation into its status code.
template <typename F> int no_throw(F &&body) {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return KP_NO_MEMORY;
    } catch (const std::length_error &) {
        return KP_NO_MEMORY;
    }
}

} // namespace kpconf_detail
