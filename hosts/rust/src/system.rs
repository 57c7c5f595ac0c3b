//! Which systems can run QuibShare.exe, as pure rules over what Windows reports, so that they are
//! tested on every platform.
#![cfg_attr(not(windows), allow(dead_code))]

/// The native machine as Windows names it: `IsWow64Process2` gives an image file machine
/// (`IMAGE_FILE_MACHINE_*`); `GetNativeSystemInfo`, on systems without it, a processor
/// architecture (`PROCESSOR_ARCHITECTURE_*`).
#[derive(Debug, Clone, Copy, PartialEq, Eq)]
pub(crate) enum Machine {
    Image(u16),
    Processor(u16),
}

const IMAGE_FILE_MACHINE_AMD64: u16 = 0x8664;
const IMAGE_FILE_MACHINE_ARM64: u16 = 0xAA64;
const PROCESSOR_ARCHITECTURE_AMD64: u16 = 9;
const PROCESSOR_ARCHITECTURE_ARM64: u16 = 12;

/// Windows 10 version 2004 (build 19041) and later; Windows 11 still reports major version 10.
pub(crate) fn version_can_share(major: u32, build: u32) -> bool {
    major > 10 || (major == 10 && build >= 19041)
}

/// QuibShare.exe is x64: it runs on x64 Windows, and on ARM64 Windows from Windows 11 (build
/// 22000), the first to emulate x64. 32-bit Windows cannot run it at all.
pub(crate) fn machine_runs_x64(machine: Machine, build: u32) -> bool {
    let (x64, arm64) = match machine {
        Machine::Image(m) => (m == IMAGE_FILE_MACHINE_AMD64, m == IMAGE_FILE_MACHINE_ARM64),
        Machine::Processor(a) => (a == PROCESSOR_ARCHITECTURE_AMD64, a == PROCESSOR_ARCHITECTURE_ARM64),
    };
    x64 || (arm64 && build >= 22000)
}

#[cfg(test)]
mod tests {
    use super::*;

    #[test]
    fn sharing_needs_build_19041_of_windows_10_or_a_later_windows() {
        let cases = [
            (6, 9600, false),
            (10, 18362, false),
            (10, 19040, false),
            (10, 19041, true),
            (10, 22631, true),
            (11, 0, true),
        ];
        for (major, build, expected) in cases {
            assert_eq!(version_can_share(major, build), expected, "{}.{}", major, build);
        }
    }

    #[test]
    fn x64_runs_natively_and_on_arm64_from_windows_11_but_never_on_32_bit_windows() {
        let cases = [
            (Machine::Image(0x8664), 19041, true),
            (Machine::Image(0xAA64), 21999, false),
            (Machine::Image(0xAA64), 22000, true),
            (Machine::Image(0x014C), 22631, false),
            (Machine::Image(0), 22631, false),
            (Machine::Processor(9), 19041, true),
            (Machine::Processor(12), 19045, false),
            (Machine::Processor(12), 22000, true),
            (Machine::Processor(0), 22631, false),
            // The values of one API mean something else in the other.
            (Machine::Processor(0x8664), 22631, false),
            (Machine::Image(9), 22631, false),
        ];
        for (machine, build, expected) in cases {
            assert_eq!(machine_runs_x64(machine, build), expected, "{:?} build {}", machine, build);
        }
    }
}
