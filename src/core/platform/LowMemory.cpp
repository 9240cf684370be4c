#include "LowMemory.h"

#include <sys/mman.h>

namespace salvo {

LowMemory::LowMemory(size_t size)
{
#ifdef MAP_32BIT
    void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (p != MAP_FAILED) {
        m_data = static_cast<char *>(p);
        m_size = size;
    }
#else
    (void)size;
#endif
}

LowMemory::~LowMemory()
{
    if (m_data)
        munmap(m_data, m_size);
}

} // namespace salvo
