#pragma once
// Memory whose addresses fit in 32 bits, for the one component record that
// stores its string pointers in 32-bit fields.
#include <cstddef>

namespace salvo {

class LowMemory {
public:
    explicit LowMemory(size_t size);
    ~LowMemory();
    LowMemory(const LowMemory &) = delete;
    LowMemory &operator=(const LowMemory &) = delete;

    // Null when no such memory could be had.
    char *data() const { return m_data; }
    size_t size() const { return m_size; }

private:
    char *m_data = nullptr;
    size_t m_size = 0;
};

} // namespace salvo
