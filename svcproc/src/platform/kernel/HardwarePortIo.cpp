#include "HardwarePortIo.h"

#include <cerrno>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define SVCP_HAVE_PORT_IO 1
#endif

namespace svcproc::kernel {
namespace {

#ifdef SVCP_HAVE_PORT_IO
class HardwarePortIo : public IPortIo {
public:
    HardwarePortIo(uint32_t base, uint32_t length) : m_dwBase(base), m_dwLength(length) {}
    ~HardwarePortIo() override { ::ioperm(m_dwBase, m_dwLength, 0); }
    UCHAR ReadPort(uint32_t port) override { return ::inb(static_cast<unsigned short>(port)); }
    void WritePort(uint32_t port, UCHAR value) override {
        ::outb(value, static_cast<unsigned short>(port));
    }

private:
    uint32_t m_dwBase;
    uint32_t m_dwLength;
};
#endif

} // namespace

std::unique_ptr<IPortIo> OpenHardwarePorts(uint32_t base, uint32_t length, std::string* error) {
#ifdef SVCP_HAVE_PORT_IO
    if (length == 0 || base > 0xFFFF || length > 0x10000 - base) {
        *error = "port range outside the I/O space";
        return nullptr;
    }
    if (::ioperm(base, length, 1) != 0) {
        *error = std::string("ioperm refused access to the ports (") + std::strerror(errno) +
                 "); real ports need root";
        return nullptr;
    }
    return std::make_unique<HardwarePortIo>(base, length);
#else
    (void)base;
    (void)length;
    *error = "real I/O ports are not available on this processor";
    return nullptr;
#endif
}

} // namespace svcproc::kernel
