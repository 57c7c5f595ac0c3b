//! The Windows side: starting QuibShare.exe, and what system this is. Runs on the caller's thread,
//! with one more thread for each piped standard handle, reading it.

use std::ffi::{c_void, OsString};
use std::io::{self, Read};
use std::os::windows::io::AsRawHandle;
use std::path::Path;
use std::process::{Child, Command, Stdio};
use std::sync::mpsc::{self, Receiver};
use std::sync::{Arc, Mutex, PoisonError};
use std::thread;
use std::time::{Duration, Instant};

use crate::system::Machine;
use crate::Rect;

/// How long the pipes may stay open once QuibShare has exited: a process it started may hold
/// them for good, and what QuibShare itself wrote has been read by then.
const PIPE_GRACE: Duration = Duration::from_secs(2);
const WAIT_OBJECT_0: u32 = 0;

type Handle = *mut c_void;

#[repr(C)]
struct OsVersionInfo {
    size: u32,
    major: u32,
    minor: u32,
    build: u32,
    platform: u32,
    service_pack: [u16; 128],
}

#[repr(C)]
struct SystemInfo {
    processor_architecture: u16,
    reserved: u16,
    page_size: u32,
    minimum_application_address: *mut c_void,
    maximum_application_address: *mut c_void,
    active_processor_mask: usize,
    number_of_processors: u32,
    processor_type: u32,
    allocation_granularity: u32,
    processor_level: u16,
    processor_revision: u16,
}

type IsWow64Process2 =
    unsafe extern "system" fn(process: Handle, process_machine: *mut u16, native_machine: *mut u16) -> i32;

#[link(name = "kernel32")]
extern "system" {
    fn WaitForSingleObject(handle: Handle, milliseconds: u32) -> u32;
    fn GetModuleHandleW(name: *const u16) -> Handle;
    fn GetProcAddress(module: Handle, name: *const u8) -> *mut c_void;
    fn GetCurrentProcess() -> Handle;
    fn GetNativeSystemInfo(info: *mut SystemInfo);
}

#[repr(C)]
struct WindowRect {
    left: i32,
    top: i32,
    right: i32,
    bottom: i32,
}

#[repr(C)]
struct Point {
    x: i32,
    y: i32,
}

#[link(name = "user32")]
extern "system" {
    fn IsWindow(window: Handle) -> i32;
    fn GetClientRect(window: Handle, rect: *mut WindowRect) -> i32;
    fn ClientToScreen(window: Handle, point: *mut Point) -> i32;
}

#[link(name = "ntdll")]
extern "system" {
    fn RtlGetVersion(info: *mut OsVersionInfo) -> i32;
}

/// How QuibShare exited, and what it wrote.
#[derive(Debug, PartialEq, Eq)]
pub(crate) struct Exit {
    pub(crate) code: u32,
    pub(crate) stdout: Vec<u8>,
    pub(crate) stderr: Vec<u8>,
}

/// A started QuibShare, whose pipes are being read.
pub(crate) struct Running {
    child: Child,
    started: Instant,
    stdout: Option<Pipe>,
    stderr: Pipe,
}

/// Runs QuibShare with `arguments`, taking its standard output only when it is asked to `wait`.
/// None if it was still running `deadline` after the start, and so was stopped.
pub(crate) fn run(
    executable: &Path,
    arguments: &[OsString],
    wait: bool,
    deadline: Duration,
) -> io::Result<Option<Exit>> {
    start(executable, arguments, wait)?.finish(deadline)
}

/// Starts QuibShare and the readers of its pipes; its deadline counts from here.
pub(crate) fn start(executable: &Path, arguments: &[OsString], wait: bool) -> io::Result<Running> {
    let started = Instant::now();
    let mut child = Command::new(executable)
        .args(arguments)
        .stdin(Stdio::null())
        .stdout(if wait { Stdio::piped() } else { Stdio::null() })
        .stderr(Stdio::piped())
        .spawn()?;
    let stdout = child.stdout.take().map(Pipe::read);
    let stderr = Pipe::read(child.stderr.take().expect("standard error is piped"));
    Ok(Running { child, started, stdout, stderr })
}

impl Running {
    /// Waits for the exit until `deadline` after the start, then stops QuibShare. Never waits for
    /// a pipe without a limit: after a stop not at all, after an exit for `PIPE_GRACE`.
    pub(crate) fn finish(mut self, deadline: Duration) -> io::Result<Option<Exit>> {
        let left = deadline.saturating_sub(self.started.elapsed()).as_millis();
        // u32::MAX would be INFINITE.
        let left = u32::try_from(left).unwrap_or(u32::MAX).min(u32::MAX - 1);
        // std has no wait with a time limit; the process handle is ours as long as `child` lives.
        let exited = unsafe { WaitForSingleObject(self.child.as_raw_handle(), left) } == WAIT_OBJECT_0;
        if !exited {
            let _ = self.child.kill();
            return Ok(None);
        }
        let status = self.child.wait()?;
        let until = Instant::now() + PIPE_GRACE;
        let stdout = self.stdout.map_or_else(Vec::new, |pipe| pipe.take(until));
        let stderr = self.stderr.take(until);
        // On Windows every exit has a code; exception codes are u32 values above i32::MAX.
        Ok(status.code().map(|code| Exit { code: code as u32, stdout, stderr }))
    }
}

/// A pipe read to its end on a thread of its own, so that waiting for the exit never depends on
/// it. The thread ends with the pipe, which may be after the share if another process holds it.
struct Pipe {
    bytes: Arc<Mutex<Vec<u8>>>,
    ended: Receiver<()>,
}

impl Pipe {
    fn read(mut pipe: impl Read + Send + 'static) -> Pipe {
        let bytes = Arc::new(Mutex::new(Vec::new()));
        let (ends, ended) = mpsc::channel();
        let shared = Arc::clone(&bytes);
        thread::spawn(move || {
            let _ends = ends; // dropped with the thread, which tells `ended`
            let mut chunk = [0; 4096];
            while let Ok(n @ 1..) = pipe.read(&mut chunk) {
                shared.lock().unwrap_or_else(PoisonError::into_inner).extend_from_slice(&chunk[..n]);
            }
        });
        Pipe { bytes, ended }
    }

    /// What has been read once the pipe has ended, or by `until` if it is still open then.
    fn take(self, until: Instant) -> Vec<u8> {
        let _ = self.ended.recv_timeout(until.saturating_duration_since(Instant::now()));
        let mut bytes = self.bytes.lock().unwrap_or_else(PoisonError::into_inner);
        std::mem::take(&mut *bytes)
    }
}

/// The client area of `window` on the screen, in the pixels of the calling thread's DPI awareness;
/// None for a handle that is no window, or an area with no size.
pub(crate) fn client_rect(window: isize) -> Option<Rect> {
    let window = window as Handle;
    let mut area = WindowRect { left: 0, top: 0, right: 0, bottom: 0 };
    let mut origin = Point { x: 0, y: 0 };
    // A handle from the host may name a window that has gone since.
    let read = unsafe {
        IsWindow(window) != 0
            && GetClientRect(window, &mut area) != 0
            && ClientToScreen(window, &mut origin) != 0
    };
    let (width, height) = (area.right - area.left, area.bottom - area.top);
    (read && width > 0 && height > 0).then(|| Rect {
        x: origin.x,
        y: origin.y,
        width: width as u32,
        height: height as u32,
    })
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

/// The machine Windows runs on, whatever this process is built for or emulated as.
pub(crate) fn native_machine() -> Machine {
    wow64_native_machine().unwrap_or_else(system_info_machine)
}

/// From IsWow64Process2, which Windows 10 has from version 1511 on: looked up, not linked, so
/// that the crate still loads on a system without it.
fn wow64_native_machine() -> Option<Machine> {
    let kernel32: Vec<u16> = "kernel32.dll\0".encode_utf16().collect();
    let module = unsafe { GetModuleHandleW(kernel32.as_ptr()) };
    if module.is_null() {
        return None;
    }
    let address = unsafe { GetProcAddress(module, b"IsWow64Process2\0".as_ptr()) };
    if address.is_null() {
        return None;
    }
    let is_wow64_process2 = unsafe { std::mem::transmute::<*mut c_void, IsWow64Process2>(address) };
    let (mut process, mut native) = (0, 0);
    let ok = unsafe { is_wow64_process2(GetCurrentProcess(), &mut process, &mut native) } != 0;
    ok.then(|| Machine::Image(native))
}

/// From GetNativeSystemInfo, which an x64 process emulated on ARM64 is told is x64: a fallback
/// only for systems too old to share anyway.
fn system_info_machine() -> Machine {
    let mut info: SystemInfo = unsafe { std::mem::zeroed() };
    unsafe { GetNativeSystemInfo(&mut info) };
    Machine::Processor(info.processor_architecture)
}

#[cfg(test)]
mod tests {
    use super::*;
    use std::{env, fs};

    #[link(name = "kernel32")]
    extern "system" {
        fn OpenProcess(access: u32, inherit: i32, pid: u32) -> Handle;
        fn TerminateProcess(process: Handle, code: u32) -> i32;
        fn CloseHandle(handle: Handle) -> i32;
    }
    #[link(name = "user32")]
    extern "system" {
        #[allow(clippy::too_many_arguments)]
        fn CreateWindowExW(
            ex_style: u32,
            class: *const u16,
            name: *const u16,
            style: u32,
            x: i32,
            y: i32,
            width: i32,
            height: i32,
            parent: Handle,
            menu: Handle,
            instance: Handle,
            param: *mut c_void,
        ) -> Handle;
        fn DestroyWindow(window: Handle) -> i32;
    }
    const WS_POPUP: u32 = 0x8000_0000;
    const SYNCHRONIZE: u32 = 0x0010_0000;
    const PROCESS_TERMINATE: u32 = 0x0001;

    /// A stand-in, opened while it is known to run: the handle keeps its id from being given to
    /// another process, so waiting for it or ending it can never touch someone else's.
    struct Held(Handle);

    impl Held {
        fn open(pid: u32) -> Held {
            let process = unsafe { OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, 0, pid) };
            assert!(!process.is_null(), "stand-in {} is not running", pid);
            Held(process)
        }

        /// Whether it has ended, or ends within `limit`.
        fn ends_within(&self, limit: Duration) -> bool {
            unsafe { WaitForSingleObject(self.0, limit.as_millis() as u32) == WAIT_OBJECT_0 }
        }
    }

    impl Drop for Held {
        fn drop(&mut self) {
            unsafe {
                TerminateProcess(self.0, 1);
                CloseHandle(self.0);
            }
        }
    }

    /// The process ids the stand-ins wrote to `file`, once there are `count` of them.
    fn pids(file: &Path, count: usize) -> Vec<u32> {
        let deadline = Instant::now() + Duration::from_secs(60);
        loop {
            let text = fs::read_to_string(file).unwrap_or_default();
            let pids: Vec<u32> = text.lines().filter_map(|l| l.parse().ok()).collect();
            if pids.len() >= count || Instant::now() > deadline {
                return pids;
            }
            thread::sleep(Duration::from_millis(50));
        }
    }

    // Wine says build 19045 (set by scripts/setup) of Windows 10 on x64.
    #[test]
    fn wine_reports_windows_10_build_19045_on_x64_through_each_lookup() {
        assert_eq!(version(), Some((10, 19045)));
        assert_eq!(wow64_native_machine(), Some(Machine::Image(0x8664)));
        assert_eq!(system_info_machine(), Machine::Processor(9));
    }

    #[test]
    fn a_window_s_client_area_is_read_on_the_screen_and_a_gone_or_false_handle_has_none() {
        let class: Vec<u16> = "STATIC\0".encode_utf16().collect();
        let null = std::ptr::null_mut();
        let window = unsafe {
            CreateWindowExW(
                0,
                class.as_ptr(),
                class.as_ptr(),
                WS_POPUP,
                -1900,
                50,
                400,
                300,
                null,
                null,
                null,
                null,
            )
        };
        assert!(!window.is_null());
        let read = client_rect(window as isize);
        unsafe { DestroyWindow(window) };
        assert_eq!(read, Some(Rect { x: -1900, y: 50, width: 400, height: 300 }));
        assert_eq!([client_rect(window as isize), client_rect(0)], [None; 2]);
    }

    #[test]
    fn a_hung_child_or_a_pipe_held_by_its_own_child_never_holds_the_call() {
        let stand_in = env::var_os("QUIBSHARE_STAND_IN_EXE").expect("the stand-in's path");
        let folder = env::temp_dir().join("quibshare-rust-deadline");
        let _ = fs::remove_dir_all(&folder);
        fs::create_dir_all(&folder).unwrap();
        // (mode, standard output piped, stopped by the test before the deadline, deadline,
        // processes, result)
        let exited = Exit { code: 1, stdout: Vec::new(), stderr: Vec::new() };
        let cases = [
            ("hang", false, false, Duration::ZERO, 1, None),
            ("hang-with-child", true, false, Duration::ZERO, 2, None),
            ("hang-with-child", true, true, Duration::from_secs(60), 2, Some(exited)),
        ];
        for (i, (mode, wait, stop_first, deadline, count, expected)) in cases.into_iter().enumerate() {
            let file = folder.join(format!("pids {}.txt", i));
            env::set_var("QUIBSHARE_STAND_IN", mode);
            env::set_var("QUIBSHARE_STAND_IN_PIDS", &file);
            let mut running = start(Path::new(&stand_in), &[], wait).unwrap();
            let pid = running.child.id();
            // Once its pid is written the stand-in hangs, whatever the machine's speed.
            let pids = pids(&file, count);
            let held: Vec<Held> = pids.iter().map(|&pid| Held::open(pid)).collect();
            if stop_first {
                running.child.kill().unwrap();
            }
            let (sender, returned) = mpsc::channel();
            thread::spawn(move || sender.send(running.finish(deadline).unwrap()));
            let result = returned.recv_timeout(Duration::from_secs(60));
            let child = pids.iter().position(|&p| p == pid).map(|at| &held[at]);
            let child_ended = child.map_or(false, |child| child.ends_within(Duration::from_secs(10)));
            drop(held);

            assert_eq!(pids.len(), count, "{}: {:?}", mode, pids);
            assert!(pids.contains(&pid), "{}: {} in {:?}", mode, pid, pids);
            assert_eq!(result, Ok(expected), "{} (stopped first: {})", mode, stop_first);
            assert!(child_ended, "{}: the stand-in still runs", mode);
        }
    }
}
