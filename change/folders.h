// Where the family keeps what outlives a run, the journal of changes and
// their history (the state folder), and what lives while the host is up,
// the cards' locks (the runtime folder). Each is, in this order:
// SORVIT_STATE_DIR or SORVIT_RUNTIME_DIR when it is an absolute path; for
// root /var/lib/sorvit and /run/sorvit; for anyone else
// $XDG_STATE_HOME/sorvit (or ~/.local/state/sorvit) and
// $XDG_RUNTIME_DIR/sorvit (or, without one, the state folder's locks/).
// Each is reached under the path rules of safe_path.h and must be owned by
// root or the running user and writable by no one else.
#ifndef CHANGE_FOLDERS_H
#define CHANGE_FOLDERS_H

#include <cstddef>

#include "safe_path.h"

enum class family_folder { STATE, RUNTIME };

// The folder's path; false, with why, when none can be named.
bool family_folder_path(family_folder which, char *out, size_t size, char *why, size_t why_size);

// Reaches the folder, and inside it the folder sub ("" for itself), making
// them when make is set (0755 for root, 0700 for anyone else); from the
// family folder itself when from holds it, reached before. 0, or an errno
// with why: ENOENT when it is not there and make is not set.
int open_family_folder(family_folder which, const char *sub, bool make, safe_place *place,
                       char *why, size_t why_size, const safe_place *from = nullptr);

#endif
