// IN lists in Query: a parameter holding a list or a tuple stands for a
// parenthesised list of markers, one per item, each item a parameter of its
// own (`id IN %s` with [1, 2, 3] runs as `id IN (%s, %s, %s)` with 1, 2, 3);
// an empty one for `(NULL)`, which matches nothing. Only lists and tuples
// expand: a str, bytes (a binary value), a dict or any other object stays one
// parameter, for the connector to convert.
#pragma once

#include "support/ref.hpp"

namespace brx {

// Rewrites `text` and `params` (None, a tuple or list for "%s" markers, a
// dict for "%(name)s" markers) when a parameter holds a list or a tuple;
// leaves both alone otherwise. The markers are those the connector fills:
// for a sequence, every "%s" outside quoted names; for a dict, every
// "%(name)s". A list holding a list or a tuple raises TypeError. False with
// an exception set on failure.
bool expand_in_lists(Ref& text, Ref& params);

}  // namespace brx
