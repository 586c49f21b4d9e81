#include "kovra/C_Mapping.h"

#include <utility>

namespace kovra {

C_Mapping::C_Mapping() : m_source(nullptr), m_view(nullptr), m_existed(0) {}

C_Mapping::~C_Mapping() { Unmap(0); }

void* C_Mapping::Map(I_Mapping* source, const wchar_t* name, int shared, unsigned long protect, unsigned long sizeHigh,
                     unsigned long sizeLow) {
    if (m_view) return m_view;
    if (!source) return nullptr;

    common::UniqueHandle mapping(CreateFileMappingW(source->GetHandle(), nullptr, protect, sizeHigh, sizeLow, name));
    if (!mapping) return nullptr;
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;

    DWORD access = FILE_MAP_COPY;
    if (shared == 1) {
        switch (protect) {
        case PAGE_READWRITE:
            access = FILE_MAP_WRITE;
            break;
        case PAGE_READONLY:
            access = FILE_MAP_READ;
            break;
        case PAGE_WRITECOPY:
            access = FILE_MAP_COPY;
            break;
        default:
            access = 0;
            break;
        }
    }

    void* view = MapViewOfFile(mapping.Get(), access, 0, 0, 0);
    if (!view) return nullptr;
    // Any process may have made a smaller mapping under the name first; its
    // view is all the system maps, and a caller indexing the size it asked
    // for would fault past the end.
    const unsigned long long wanted = (static_cast<unsigned long long>(sizeHigh) << 32) | sizeLow;
    MEMORY_BASIC_INFORMATION region = {};
    if (wanted > 0 && (VirtualQuery(view, &region, sizeof region) < sizeof region || region.RegionSize < wanted)) {
        UnmapViewOfFile(view);
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    m_mapping = std::move(mapping);
    m_source = source;
    m_view = view;
    // An unmapped object always has the flag at 0, so only a hit sets it.
    if (existed) m_existed = 1;
    return m_view;
}

void* C_Mapping::Map(I_Mapping* source, const wchar_t* name, int shared) {
    if (m_view) return m_view;
    if (!source) return nullptr;
    unsigned long low = 0;
    unsigned long high = 0;
    if (!source->GetSize(&low, &high)) return nullptr;
    const unsigned long protect = (source->GetMode() & 0x3) ? PAGE_READWRITE : PAGE_READONLY;
    return Map(source, name, shared, protect, high, low);
}

int C_Mapping::Sync() {
    if (!m_view) return 0;
    return FlushViewOfFile(m_view, 0) ? 1 : 0;
}

void C_Mapping::Unmap(int closeSource) {
    if (!m_view) return;
    UnmapViewOfFile(m_view);
    m_view = nullptr;
    if (closeSource && m_source) m_source->Close();
    m_source = nullptr;
    m_existed = 0;
    m_mapping.Reset();
}

}  // namespace kovra
