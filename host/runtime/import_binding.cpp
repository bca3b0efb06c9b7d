#include "import_binding.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace tavhost {

namespace {

// The relocations that store a symbol's address in a pointer slot: the
// procedure linkage table's and the global offset table's.
#if defined(__x86_64__)
constexpr unsigned kJumpSlot = R_X86_64_JUMP_SLOT, kGlobDat = R_X86_64_GLOB_DAT;
#elif defined(__i386__)
constexpr unsigned kJumpSlot = R_386_JMP_SLOT, kGlobDat = R_386_GLOB_DAT;
#elif defined(__aarch64__)
constexpr unsigned kJumpSlot = R_AARCH64_JUMP_SLOT, kGlobDat = R_AARCH64_GLOB_DAT;
#elif defined(__arm__)
constexpr unsigned kJumpSlot = R_ARM_JUMP_SLOT, kGlobDat = R_ARM_GLOB_DAT;
#else
#define TAV_NO_IMPORT_BINDING 1
#endif

#ifndef TAV_NO_IMPORT_BINDING

#if __WORDSIZE == 64
inline unsigned RelocationType(uint64_t info) {
    return unsigned(ELF64_R_TYPE(info));
}
inline size_t RelocationSymbol(uint64_t info) {
    return size_t(ELF64_R_SYM(info));
}
#else
inline unsigned RelocationType(uint32_t info) {
    return unsigned(ELF32_R_TYPE(info));
}
inline size_t RelocationSymbol(uint32_t info) {
    return size_t(ELF32_R_SYM(info));
}
#endif

// The object's tables as the dynamic section gives them. The loader has
// usually made the addresses absolute already; where it has not, they are
// offsets from the load address.
struct Tables {
    ElfW(Addr) base = 0;
    const ElfW(Sym) * symbols = nullptr;
    const char* strings = nullptr;
    size_t stringsSize = 0;
    ElfW(Addr) plt = 0, pltSize = 0, rela = 0, relaSize = 0, rel = 0, relSize = 0;
    bool pltIsRela = false;
};

bool ReadTables(const link_map* map, Tables* t) {
    t->base = map->l_addr;
    auto at = [&](ElfW(Addr) v) { return v < map->l_addr ? v + map->l_addr : v; };
    ElfW(Sxword) pltKind = 0;
    for (const ElfW(Dyn)* d = map->l_ld; d && d->d_tag != DT_NULL; ++d) {
        switch (d->d_tag) {
            case DT_SYMTAB:
                t->symbols = reinterpret_cast<const ElfW(Sym)*>(at(d->d_un.d_ptr));
                break;
            case DT_STRTAB:
                t->strings = reinterpret_cast<const char*>(at(d->d_un.d_ptr));
                break;
            case DT_STRSZ:
                t->stringsSize = d->d_un.d_val;
                break;
            case DT_JMPREL:
                t->plt = at(d->d_un.d_ptr);
                break;
            case DT_PLTRELSZ:
                t->pltSize = d->d_un.d_val;
                break;
            case DT_PLTREL:
                pltKind = ElfW(Sxword)(d->d_un.d_val);
                break;
            case DT_RELA:
                t->rela = at(d->d_un.d_ptr);
                break;
            case DT_RELASZ:
                t->relaSize = d->d_un.d_val;
                break;
            case DT_REL:
                t->rel = at(d->d_un.d_ptr);
                break;
            case DT_RELSZ:
                t->relSize = d->d_un.d_val;
                break;
            default:
                break;
        }
    }
    t->pltIsRela = pltKind == DT_RELA;
    return t->symbols && t->strings;
}

// The read-only-after-relocation range of the object loaded at `base`.
struct Protected {
    ElfW(Addr) base = 0, begin = 0, end = 0;
};

int FindProtected(dl_phdr_info* info, size_t, void* data) {
    auto* p = static_cast<Protected*>(data);
    if (info->dlpi_addr != p->base) return 0;
    for (int i = 0; i < info->dlpi_phnum; ++i)
        if (info->dlpi_phdr[i].p_type == PT_GNU_RELRO) {
            p->begin = p->base + info->dlpi_phdr[i].p_vaddr;
            p->end = p->begin + info->dlpi_phdr[i].p_memsz;
        }
    return 1;
}

// Stores `target` in the slot at `slot`, lifting the protection the loader
// put on it for that moment when it lies in the protected range.
bool Store(ElfW(Addr) slot, void* target, const Protected& relro) {
    if (slot % alignof(void*) != 0) return false;
    const bool locked = slot >= relro.begin && slot < relro.end;
    const auto page = uintptr_t(sysconf(_SC_PAGESIZE));
    void* start = reinterpret_cast<void*>(slot & ~(page - 1));
    if (locked && mprotect(start, page, PROT_READ | PROT_WRITE) != 0) return false;
    std::memcpy(reinterpret_cast<void*>(slot), &target, sizeof target);
    if (locked) mprotect(start, page, PROT_READ);
    return true;
}

template <class Rel>
int BindIn(const Tables& t, ElfW(Addr) table, ElfW(Addr) size, const char* name, void* target,
           const Protected& relro) {
    int bound = 0;
    const auto* rel = reinterpret_cast<const Rel*>(table);
    for (size_t i = 0; table && i < size / sizeof(Rel); ++i) {
        const unsigned type = RelocationType(rel[i].r_info);
        if (type != kJumpSlot && type != kGlobDat) continue;
        const size_t index = RelocationSymbol(rel[i].r_info);
        const ElfW(Word) offset = t.symbols[index].st_name;
        if (index == 0 || (t.stringsSize && offset >= t.stringsSize)) continue;
        if (std::strcmp(t.strings + offset, name) != 0) continue;
        if (!Store(t.base + rel[i].r_offset, target, relro)) return -1;
        ++bound;
    }
    return bound;
}

#endif

}  // namespace

int BindImport(void* handle, const char* name, void* target) {
#ifdef TAV_NO_IMPORT_BINDING
    (void)handle, (void)name, (void)target;
    return -1;
#else
    link_map* map = nullptr;
    Tables t;
    if (!handle || dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map || !ReadTables(map, &t))
        return -1;
    Protected relro;
    relro.base = map->l_addr;
    dl_iterate_phdr(FindProtected, &relro);
    int total = 0;
    const int counts[] = {t.pltIsRela ? BindIn<ElfW(Rela)>(t, t.plt, t.pltSize, name, target, relro)
                                      : BindIn<ElfW(Rel)>(t, t.plt, t.pltSize, name, target, relro),
                          BindIn<ElfW(Rela)>(t, t.rela, t.relaSize, name, target, relro),
                          BindIn<ElfW(Rel)>(t, t.rel, t.relSize, name, target, relro)};
    for (int n : counts) {
        if (n < 0) return -1;
        total += n;
    }
    return total;
#endif
}

}  // namespace tavhost
