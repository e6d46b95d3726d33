// The work files' lock and removal, and "Loading.." (work_lock.cpp). Runs
// of one user share the file names, so the preparation is serialized by a
// lock on the work directory, taken before the first write of a work file
// and released once the file to show is open.
#pragma once

void lock_work_files();
// "Loading.." on standard output, once: before the text is prepared, or
// earlier while a run waits for another's preparation.
void show_loading();
// Releases the lock, noting which working copy and capture are this run's.
void unlock_work_files();
// Removes the working copy and capture if they are still this run's own:
// while it prepares, whatever they name is.
void remove_own_work_files();
