// The first step every property setter of the decorated controls shares:
// an unchanged value is ignored, a changed one stored.
#pragma once

#include <type_traits>

// Stores `value` in `field` when it differs; answers whether it did.
template <typename T> bool StoreChanged(T& field, const std::type_identity_t<T>& value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}
