#pragma once
// Whether a value from a document fits the field it is written to. The encodings clamp what
// does not fit (a negative number for an unsigned field becomes 0, an output fraction beyond
// full scale becomes full scale), and the read-back comparison's tolerance can hide the clamp;
// the "setconfig" flow uses this to report such a write as a mismatch instead of a success.
#include "config/config_value_group.h"

namespace quor::tessera::diagnostics::config2 {

// `value` is the number as the document gave it (booleans as 0/1). Truncation toward zero is
// the encoding, not a clamp: 1.9 fits an integer field, -0.5 does not fit an unsigned one.
bool ValueFitsField(const FieldSpec& field, double value);

}  // namespace quor::tessera::diagnostics::config2
