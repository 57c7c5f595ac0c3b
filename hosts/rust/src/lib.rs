//! Opens the Windows share sheet for one file by running `QuibShare.exe` as any host does:
//! `QuibShare.exe --input <path>`, then its exit code and its one line on standard error.
//!
//! A share blocks until QuibShare exits, which can take up to about 35 seconds while the sheet
//! opens: call it off the UI thread (in Tauri, from an async command through
//! `tauri::async_runtime::spawn_blocking`).
//!
//! ```no_run
//! match quibshare::share(r"C:\Users\Ann\Documents\report.pdf") {
//!     Ok(()) => {}
//!     Err(e) if e.kind() == quibshare::ErrorKind::Unavailable => { /* hide the share button */ }
//!     Err(e) => eprintln!("{}", e),
//! }
//! ```

mod error;
#[cfg(windows)]
mod windows;

pub use error::{Error, ErrorKind};

use std::path::{Path, PathBuf};

/// Shares `file` with the default executable: `QuibShare.exe` in the folder of the current
/// executable, where Tauri puts a bundled side executable.
pub fn share(file: impl AsRef<Path>) -> Result<(), Error> {
    if cfg!(not(windows)) {
        return Err(Error::unsupported_platform());
    }
    Sharer::new(default_executable().map_err(|e| Error::spawn_failed(Path::new(EXECUTABLE), e))?).share(file)
}

/// Whether this system can share: Windows 10 build 19041 or later, with `QuibShare.exe` beside
/// the current executable. Starts no process.
pub fn is_supported() -> bool {
    #[cfg(windows)]
    {
        windows::version().map_or(false, |(major, build)| version_can_share(major, build))
            && default_executable().map_or(false, |exe| exe.is_file())
    }
    #[cfg(not(windows))]
    {
        false
    }
}

/// Runs a `QuibShare.exe` at a location of the caller's choosing.
#[derive(Debug, Clone)]
pub struct Sharer {
    executable: PathBuf,
}

impl Sharer {
    pub fn new(executable: impl Into<PathBuf>) -> Self {
        Sharer { executable: executable.into() }
    }

    pub fn executable(&self) -> &Path {
        &self.executable
    }

    /// Shares `file`, whose path goes to QuibShare unchanged; QuibShare checks it. Blocks until
    /// QuibShare exits.
    pub fn share(&self, file: impl AsRef<Path>) -> Result<(), Error> {
        #[cfg(windows)]
        {
            match windows::run(&self.executable, file.as_ref().as_os_str()) {
                Ok(Some((code, stderr))) => outcome(code, &stderr),
                Ok(None) => Err(Error::stopped(windows::DEADLINE_MS / 1000)),
                Err(e) => Err(Error::spawn_failed(&self.executable, e)),
            }
        }
        #[cfg(not(windows))]
        {
            let _ = file;
            Err(Error::unsupported_platform())
        }
    }
}

const EXECUTABLE: &str = "QuibShare.exe";

fn default_executable() -> std::io::Result<PathBuf> {
    let current = std::env::current_exe()?;
    Ok(current.parent().unwrap_or_else(|| Path::new("")).join(EXECUTABLE))
}

/// Windows 10 version 2004 (build 19041) and later; Windows 11 still reports major version 10.
#[cfg_attr(not(windows), allow(dead_code))]
fn version_can_share(major: u32, build: u32) -> bool {
    major > 10 || (major == 10 && build >= 19041)
}

/// Maps QuibShare's exit code and standard error to the caller's result.
#[cfg_attr(not(windows), allow(dead_code))]
fn outcome(code: u32, stderr: &[u8]) -> Result<(), Error> {
    let kind = match code {
        0 => return Ok(()),
        1 => ErrorKind::Failed,
        2 => ErrorKind::InputRejected,
        3 => ErrorKind::Unavailable,
        _ => ErrorKind::AbnormalExit,
    };
    // QuibShare writes ASCII only; a lossy decoding cannot change it.
    let text = String::from_utf8_lossy(stderr);
    Err(Error::exited(kind, code, text.trim_end_matches(&['\r', '\n'][..])))
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
    fn exit_codes_without_a_line_give_their_kind_and_the_crate_s_text() {
        assert!(outcome(0, b"").is_ok());
        let cases = [
            (3, &b""[..], ErrorKind::Unavailable, "QuibShare exited with code 3 and gave no reason."),
            (
                0xC000_0005,
                b"",
                ErrorKind::AbnormalExit,
                "QuibShare exited with code 0xC0000005 and gave no reason.",
            ),
        ];
        for (code, stderr, kind, message) in cases {
            let error = outcome(code, stderr).unwrap_err();
            assert_eq!((error.kind(), error.exit_code(), error.message()), (kind, Some(code), message));
            assert_eq!(error.to_string(), message);
        }
    }
}
