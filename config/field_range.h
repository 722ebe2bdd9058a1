#pragma once
// Whether a value from a document fits the field it is written to. The encodings clamp what
// does not fit (a negative number for an unsigned field becomes 0, an output fraction beyond
// full scale becomes full scale); "setconfig" refuses a document with such a value before
// anything is sent, instead of writing the clamped one.
#include "config/config_value_group.h"

namespace quor::tessera::diagnostics::config2 {

// `value` is the number as the document gave it (booleans as 0/1). A value between two that the
// field holds fits (it is written as the nearer one), and so does 1.9 for an integer key, which
// is read as 2; a value beyond the field's extremes does not: -0.5 for an unsigned field.
bool ValueFitsField(const FieldSpec& field, double value);

}  // namespace quor::tessera::diagnostics::config2
