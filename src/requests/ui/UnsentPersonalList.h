#pragma once
// The main window's listing of the personal requests not yet sent (state "I"), by request number in table order.
class QString;

namespace qev {

class Dataset;
class TFListado;

// Fills and shows `list`. The scan walks the table's cursor, which is left on the last row; while a row is being
// edited or inserted the cursor is not moved (that would post the operator's unfinished row) and the stored rows
// are read in place.
void listUnsentPersonal(Dataset& pedp, TFListado& list);

} // namespace qev
