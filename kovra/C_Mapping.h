#pragma once

#include <windows.h>

#include "kovra/I_Mapping.h"
#include "kovra/KovraApi.h"
#include "kovra/common/UniqueHandle.h"

namespace kovra {

// A view of a named file mapping over an I_Mapping source. Several
// processes that map the same name share the memory; this class does no
// locking of its own (callers serialise with a named C_Mutex).
//
// The object is mapped exactly while Pointer() is non-null. A mapped object
// returns its view from every further Map call without looking at the
// arguments, until Unmap. The source is not owned; it must outlive the
// mapping.
class KOVRA_API C_Mapping {
public:
    C_Mapping();
    // Unmaps and closes the mapping handle; never closes the source.
    virtual ~C_Mapping();

    // Creates the named mapping, or opens the existing one of that name, and
    // maps the whole of it. `shared` 1 maps a view that follows `protect`
    // (PAGE_READWRITE: writable, PAGE_READONLY: read-only, PAGE_WRITECOPY:
    // copy-on-write); any other value maps a private copy-on-write view. An
    // existing mapping smaller than the size asked for is refused
    // (ERROR_INVALID_DATA): its view would end before that size. The view,
    // or null with nothing left open.
    void* Map(I_Mapping* source, const wchar_t* name, int shared, unsigned long protect, unsigned long sizeHigh,
              unsigned long sizeLow);
    // The same with the size from the source's GetSize (null when that
    // fails) and PAGE_READWRITE when its mode has bit 0x1 or 0x2, else
    // PAGE_READONLY. A file source of size 0 maps the whole file.
    void* Map(I_Mapping* source, const wchar_t* name, int shared);

    void* Pointer() { return m_view; }
    // The mapping's handle, owned by the object (null while unmapped): for a
    // caller that hands the mapping to another process with DuplicateHandle,
    // which keeps the named memory alive as long as that process holds it.
    HANDLE Handle() const { return m_mapping.Get(); }
    // 1 when the named mapping existed before this object's Map made its
    // handle; 0 while unmapped.
    int IsExistMap() const { return m_existed; }
    // FlushViewOfFile on the whole view; 0 when it fails or nothing is
    // mapped.
    int Sync();
    // Unmaps and closes the mapping handle; with closeSource non-zero also
    // calls the source's Close(). Nothing happens while unmapped.
    void Unmap(int closeSource);

private:
    C_Mapping(const C_Mapping&) = delete;
    C_Mapping& operator=(const C_Mapping&) = delete;

    I_Mapping* m_source;
    void* m_view;
    int m_existed;
    common::UniqueHandle m_mapping;  // empty while unmapped
};

}  // namespace kovra
