#pragma once

#include "kovra/C_WString.h"
#include "kovra/KovraApi.h"

namespace kovra {

// One directory entry found by C_Find. Times are seconds since 1970-01-01
// UTC; attrib holds the C runtime's _A_* bits.
//
// A copy stands alone: copying or assigning takes every field but `next`,
// which stays null (a copy), or as it was (assignment), so a copy kept by a
// caller never leads into a list that C_Find frees.
struct KOVRA_API tag_FindInfo {
    tag_FindInfo();
    tag_FindInfo(const tag_FindInfo& other);
    tag_FindInfo& operator=(const tag_FindInfo& other);

    C_WString name;  // without directory
    unsigned int attrib;
    __int64 size;
    __int64 time_create;
    __int64 time_write;
    __int64 time_access;
    tag_FindInfo* next;  // the next entry of the list, null at the end
};

// Collects, in one call, the entries that match a wildcard pattern
// (_wfindfirst64/_wfindnext64) in the order the system reports them, "."
// and ".." left out; then walks them, indexes them from 0 or looks them up
// by exact (case-sensitive) name. A virtual directory, when set and asked
// for, is put in front of the pattern, so a relative pattern is searched
// there while the process's current directory stays as it is. The object
// owns the list.
//
// Choices where the behaviour was open:
// - SetVtlDir enters the directory to check it and goes back; it returns 0
//   without entering anything when the current directory cannot be read
//   (it could not be restored). Other threads that use relative paths
//   during that check see the directory change.
// - Lookups given a null `out` return 0.
class KOVRA_API C_Find {
public:
    C_Find();
    virtual ~C_Find();  // End()

    // 0 when a list is held (End first) or nothing matches; else 1 (also
    // when only "." and ".." matched, with a count of 0). `useVirtualDir`
    // non-zero searches under the virtual directory, when one is set.
    int Start(const C_WString& pattern, int useVirtualDir);
    // Frees the list: 0 when there was none, else 1.
    int End();

    int GetFindCount() const { return m_count; }
    // The first entry (null when none); the walk starts there.
    tag_FindInfo* GetFindInfoFirst();
    // The entry after the walk's current one; null after the last, and
    // before GetFindInfoFirst.
    tag_FindInfo* GetFindInfoNext();

    // Copy of the entry at a 0-based index, or of the first of that exact
    // name, into `out`: 1, or 0 when there is none.
    int GetFindInfo(tag_FindInfo* out, int index) const;
    int GetFindInfo(tag_FindInfo* out, const C_WString& name) const;
    C_WString GetName(int index) const;  // empty when none
    int GetAttrib(int index) const;      // -1 when none
    int GetAttrib(const C_WString& name) const;
    __int64 GetSize(int index) const;  // -1 when none
    __int64 GetSize(const C_WString& name) const;
    // 1 when an entry of exactly that name was collected (0 for "").
    int Serch(const C_WString& name) const;

    // 0 for an empty name or a directory that cannot be entered (the one
    // set before stays); else stores it, 1.
    int SetVtlDir(const C_WString& directory);
    C_WString GetVtlDir() const { return m_vtlDir; }

private:
    C_Find(const C_Find&) = delete;
    C_Find& operator=(const C_Find&) = delete;

    const tag_FindInfo* At(int index) const;
    const tag_FindInfo* Named(const C_WString& name) const;

    tag_FindInfo* m_first;
    int m_count;
    tag_FindInfo* m_cursor;
    C_WString m_vtlDir;
};

}  // namespace kovra
