//! The Windows side: starting QuibShare.exe and reading the system's version. Runs on the
//! caller's thread, with one more thread per share reading standard error.

use std::ffi::{c_void, OsStr};
use std::io::{self, Read};
use std::os::windows::io::AsRawHandle;
use std::path::Path;
use std::process::{Command, Stdio};
use std::thread;

/// QuibShare exits within about 35 s; one still running well after that is stuck.
pub(crate) const DEADLINE_MS: u32 = 60_000;
const WAIT_OBJECT_0: u32 = 0;

#[repr(C)]
struct OsVersionInfo {
    size: u32,
    major: u32,
    minor: u32,
    build: u32,
    platform: u32,
    service_pack: [u16; 128],
}

#[link(name = "kernel32")]
extern "system" {
    fn WaitForSingleObject(handle: *mut c_void, milliseconds: u32) -> u32;
}

#[link(name = "ntdll")]
extern "system" {
    fn RtlGetVersion(info: *mut OsVersionInfo) -> i32;
}

/// Runs `QuibShare.exe --input <file>` and returns its exit code and standard error, or None if
/// it had to be stopped at the deadline.
pub(crate) fn run(executable: &Path, file: &OsStr) -> io::Result<Option<(u32, Vec<u8>)>> {
    let mut child = Command::new(executable)
        .arg("--input")
        .arg(file)
        .stdin(Stdio::null())
        .stdout(Stdio::null())
        .stderr(Stdio::piped())
        .spawn()?;
    // Read on a thread of its own, so that waiting for the exit never depends on the pipe.
    let mut pipe = child.stderr.take().expect("standard error is piped");
    let reader = thread::spawn(move || {
        let mut bytes = Vec::new();
        let _ = pipe.read_to_end(&mut bytes);
        bytes
    });
    // std has no wait with a time limit; the process handle is ours as long as `child` lives.
    let exited = unsafe { WaitForSingleObject(child.as_raw_handle(), DEADLINE_MS) } == WAIT_OBJECT_0;
    if !exited {
        let _ = child.kill();
    }
    let status = child.wait()?;
    let stderr = reader.join().unwrap_or_default();
    // On Windows every exit has a code; exception codes are u32 values above i32::MAX.
    Ok(status.code().filter(|_| exited).map(|code| (code as u32, stderr)))
}

/// The major version and build of Windows. RtlGetVersion, unlike GetVersionEx, does not depend
/// on the application's manifest.
pub(crate) fn version() -> Option<(u32, u32)> {
    let mut info =
        OsVersionInfo { size: 0, major: 0, minor: 0, build: 0, platform: 0, service_pack: [0; 128] };
    info.size = std::mem::size_of::<OsVersionInfo>() as u32;
    let status = unsafe { RtlGetVersion(&mut info) };
    (status == 0).then(|| (info.major, info.build))
}
