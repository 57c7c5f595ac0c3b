//! Opens the Windows share sheet for files, a text or a link by running `QuibShare.exe` as any
//! host does: `QuibShare.exe --input <path>...` with the options set on a [`Sharer`], then its exit
//! code, its one line on standard error and, when it is asked to wait, its outcome line on
//! standard output.
//!
//! A share blocks until QuibShare exits, which can take up to about 35 seconds while the sheet
//! opens, and up to about 11 minutes when it waits for the share to end: call it off the UI
//! thread (in Tauri, from an async command through `tauri::async_runtime::spawn_blocking`).
//!
//! ```no_run
//! match quibshare::share(r"C:\Users\Ann\Documents\report.pdf") {
//!     Ok(_) => {}
//!     Err(e) if e.kind() == quibshare::ErrorKind::Unavailable => { /* hide the share button */ }
//!     Err(e) => eprintln!("{}", e),
//! }
//! ```
#![warn(missing_docs)]

mod error;
mod outcome;
mod system;
pub mod web;
#[cfg(windows)]
mod windows;

pub use error::{Error, ErrorKind};
pub use outcome::{Outcome, OutcomeKind};

use std::ffi::OsString;
use std::path::{Path, PathBuf};
use std::time::Duration;

/// QuibShare returns within about 35 s; one still running well after that is stuck.
const DEADLINE: Duration = Duration::from_secs(60);
/// A waited share: 35 s to the handover, the sheet's 600 s bound and QuibShare's own 30 s after
/// it, and a minute's margin, all counted from the start.
const WAITED_DEADLINE: Duration = Duration::from_secs(35 + 600 + 30 + 60);

/// Shares `file` with the default executable, `QuibShare.exe` in the folder of the current
/// executable (where Tauri puts a bundled side executable), and no options: `Handed` once the
/// sheet has the file.
pub fn share(file: impl AsRef<Path>) -> Result<Outcome, Error> {
    refuse_nul_in_files([file.as_ref()])?;
    if cfg!(not(windows)) {
        return Err(Error::unsupported_platform());
    }
    Sharer::new(default_executable().map_err(|e| Error::spawn_failed(Path::new(EXECUTABLE), e))?).share(file)
}

/// Whether this system can share: Windows 10 build 19041 or later on an x64 machine, or Windows 11
/// on an ARM64 one, with `QuibShare.exe` beside the current executable. Starts no process.
pub fn is_supported() -> bool {
    system_can_share() && default_executable().map_or(false, |exe| exe.is_file())
}

fn system_can_share() -> bool {
    #[cfg(windows)]
    {
        windows::version().map_or(false, |(major, build)| {
            system::version_can_share(major, build)
                && system::machine_runs_x64(windows::native_machine(), build)
        })
    }
    #[cfg(not(windows))]
    {
        false
    }
}

/// Where the sheet should open: a rectangle in physical screen pixels, such as the host window's
/// or its share button's; the sheet opens over its centre, on its monitor. Tauri's
/// `PhysicalPosition<i32>` and `PhysicalSize<u32>` fit it as they are.
#[derive(Debug, Clone, Copy, PartialEq, Eq, Hash, Default)]
pub struct Rect {
    /// The left edge; negative on a screen left of the main one.
    pub x: i32,
    /// The top edge; negative on a screen above the main one.
    pub y: i32,
    /// The width, at least 1.
    pub width: u32,
    /// The height, at least 1.
    pub height: u32,
}

/// Runs a `QuibShare.exe` at a location of the caller's choosing, with options for the sheet.
///
/// ```no_run
/// use quibshare::{OutcomeKind, Rect, Sharer};
///
/// let outcome = Sharer::new(r"C:\Program Files\Example\QuibShare.exe")
///     .title("Quarterly report")
///     .anchor(Rect { x: 1200, y: 80, width: 32, height: 32 })
///     .wait(true)
///     .share_all(["report.pdf", "figures.xlsx"])?;
/// if outcome.kind() == OutcomeKind::Completed {
///     println!("shared with {}", outcome.app().unwrap_or("an app"));
/// }
/// # Ok::<(), quibshare::Error>(())
/// ```
#[derive(Debug, Clone)]
pub struct Sharer {
    executable: PathBuf,
    title: Option<String>,
    text: Option<String>,
    url: Option<String>,
    anchor: Option<Rect>,
    wait: bool,
}

impl Sharer {
    /// A sharer running `executable`, with no options set.
    pub fn new(executable: impl Into<PathBuf>) -> Self {
        Sharer {
            executable: executable.into(),
            title: None,
            text: None,
            url: None,
            anchor: None,
            wait: false,
        }
    }

    /// A sharer running `QuibShare.exe` beside the current executable (where Tauri puts a bundled
    /// side executable), the one the free [`share`] runs, with no options set.
    pub fn beside_current_exe() -> Self {
        Sharer::new(default_executable().unwrap_or_else(|_| PathBuf::from(EXECUTABLE)))
    }

    /// The executable this sharer runs.
    pub fn executable(&self) -> &Path {
        &self.executable
    }

    /// The sheet's title (at most 256 UTF-16 units). Without one QuibShare uses the file's name,
    /// or `N files` for several; without files, the link's host name, else the text's first line
    /// that holds more than spaces (trimmed, at most 64 UTF-16 units), else `Shared text`.
    pub fn title(mut self, title: impl Into<String>) -> Self {
        self.title = Some(title.into());
        self
    }

    /// Text shared along with the files, or alone (at most 16384 UTF-16 units).
    pub fn text(mut self, text: impl Into<String>) -> Self {
        self.text = Some(text.into());
        self
    }

    /// A link shared along with the files, or alone: an absolute http or https URL (at most 2048
    /// UTF-16 units).
    pub fn url(mut self, url: impl Into<String>) -> Self {
        self.url = Some(url.into());
        self
    }

    /// Opens the sheet over the centre of `anchor`, on its monitor, rather than at the top-left
    /// corner of the primary screen.
    pub fn anchor(mut self, anchor: Rect) -> Self {
        self.anchor = Some(anchor);
        self
    }

    /// Whether a share waits for the user to finish with the sheet and says how it ended (up to
    /// about 11 minutes), rather than returning `Handed` once the sheet has the files.
    pub fn wait(mut self, wait: bool) -> Self {
        self.wait = wait;
        self
    }

    /// Whether this system can share with this sharer's executable, which must exist: as
    /// [`is_supported`], for an executable anywhere. Starts no process.
    pub fn is_supported(&self) -> bool {
        system_can_share() && self.executable.is_file()
    }

    /// Shares `file`, whose path goes to QuibShare unchanged; QuibShare checks it (one longer
    /// than 259 characters only passes where Windows' long-path setting is on). Blocks until
    /// QuibShare exits.
    pub fn share(&self, file: impl AsRef<Path>) -> Result<Outcome, Error> {
        self.share_all([file])
    }

    /// Shares several files at once (at most 100), in this order; or, with no files, the text
    /// and the link. Blocks until QuibShare exits.
    ///
    /// Refused with `InputRejected` before anything starts, on every platform: a file, the title,
    /// the text or the link holding a NUL character (no command line can carry one), and a share
    /// with no files, no text and no link.
    pub fn share_all<I>(&self, files: I) -> Result<Outcome, Error>
    where
        I: IntoIterator,
        I::Item: AsRef<Path>,
    {
        let files: Vec<I::Item> = files.into_iter().collect();
        refuse_nul_in_files(files.iter().map(AsRef::as_ref))?;
        let options = [(&self.title, "title"), (&self.text, "text"), (&self.url, "link")];
        for (value, name) in options {
            if value.as_deref().map_or(false, |value| value.contains('\0')) {
                return Err(Error::rejected(format!("The {} holds a NUL character.", name)));
            }
        }
        if files.is_empty() && self.text.is_none() && self.url.is_none() {
            return Err(Error::rejected("Nothing to share: give files, a text or a link."));
        }
        let arguments = self.arguments(files);
        #[cfg(windows)]
        {
            let deadline = self.deadline();
            match windows::run(&self.executable, &arguments, self.wait, deadline) {
                Ok(Some(exit)) => outcome(exit.code, &exit.stderr, self.wait.then(|| &exit.stdout[..])),
                Ok(None) => Err(Error::stopped(deadline)),
                Err(e) => Err(Error::spawn_failed(&self.executable, e)),
            }
        }
        #[cfg(not(windows))]
        {
            let _ = arguments;
            Err(Error::unsupported_platform())
        }
    }

    /// How long QuibShare may run before it is stopped, from the start.
    #[cfg_attr(not(windows), allow(dead_code))]
    fn deadline(&self) -> Duration {
        if self.wait {
            WAITED_DEADLINE
        } else {
            DEADLINE
        }
    }

    /// QuibShare's command line after the executable: each file after its `--input`, then the
    /// options that are set.
    fn arguments<I>(&self, files: I) -> Vec<OsString>
    where
        I: IntoIterator,
        I::Item: AsRef<Path>,
    {
        let mut arguments = Vec::new();
        for file in files {
            arguments.push("--input".into());
            arguments.push(file.as_ref().as_os_str().to_owned());
        }
        let options = [("--title", &self.title), ("--text", &self.text), ("--url", &self.url)];
        for (name, value) in options {
            if let Some(value) = value {
                arguments.push(name.into());
                arguments.push(value.into());
            }
        }
        if let Some(Rect { x, y, width, height }) = self.anchor {
            arguments.push("--anchor".into());
            arguments.push(format!("{},{},{},{}", x, y, width, height).into());
        }
        if self.wait {
            arguments.push("--wait".into());
        }
        arguments
    }
}

const EXECUTABLE: &str = "QuibShare.exe";

/// A NUL character ends a string on a Windows command line, so QuibShare would get another path.
fn refuse_nul_in_files<'a>(files: impl IntoIterator<Item = &'a Path>) -> Result<(), Error> {
    if files.into_iter().any(|file| file.as_os_str().to_string_lossy().contains('\0')) {
        return Err(Error::rejected("A file's path holds a NUL character."));
    }
    Ok(())
}

fn default_executable() -> std::io::Result<PathBuf> {
    let current = std::env::current_exe()?;
    Ok(current.parent().unwrap_or_else(|| Path::new("")).join(EXECUTABLE))
}

/// Maps QuibShare's exit code, standard error and (when it waited) standard output to the
/// caller's result.
#[cfg_attr(not(windows), allow(dead_code))]
fn outcome(code: u32, stderr: &[u8], stdout: Option<&[u8]>) -> Result<Outcome, Error> {
    let kind = match code {
        0 => return Ok(stdout.map_or_else(Outcome::handed, Outcome::from_line)),
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
    fn each_file_follows_its_input_flag_the_options_set_follow_and_waiting_allows_725_seconds() {
        let sharer = || Sharer::new("QuibShare.exe");
        let anchor = Rect { x: -1920, y: 0, width: 1, height: 40 };
        // (sharer, files, command line, deadline in seconds)
        let cases: [(Sharer, &[&str], &[&str], u64); 5] = [
            (sharer(), &["report.pdf"], &["--input", "report.pdf"], 60),
            (sharer().wait(false), &["--wait"], &["--input", "--wait"], 60),
            (
                sharer().wait(true).anchor(anchor).url("https://example.com/?a=1&b").text("").title("--text"),
                &["a.txt", r"C:\b c\d.txt"],
                &[
                    "--input",
                    "a.txt",
                    "--input",
                    r"C:\b c\d.txt",
                    "--title",
                    "--text",
                    "--text",
                    "",
                    "--url",
                    "https://example.com/?a=1&b",
                    "--anchor",
                    "-1920,0,1,40",
                    "--wait",
                ],
                725,
            ),
            (sharer().title("first").title("Ünï \"q\""), &[], &["--title", "Ünï \"q\""], 60),
            (
                sharer().wait(true).wait(false).anchor(Rect::default()),
                &["x"],
                &["--input", "x", "--anchor", "0,0,0,0"],
                60,
            ),
        ];
        for (sharer, files, expected, seconds) in cases {
            let expected: Vec<OsString> = expected.iter().map(OsString::from).collect();
            assert_eq!(sharer.arguments(files), expected, "{:?}", sharer);
            assert_eq!(sharer.deadline(), Duration::from_secs(seconds), "{:?}", sharer);
        }
    }

    #[test]
    fn exit_codes_give_an_outcome_or_their_kind_with_quibshare_s_line_or_the_crate_s_text() {
        let line = Some(&b"{\"outcome\":\"canceled\",\"app\":\"Mail\"}\r\n"[..]);
        let handed = outcome(0, b"", None).unwrap();
        assert_eq!((handed.kind(), handed.target(), handed.app()), (OutcomeKind::Handed, None, None));
        let waited = outcome(0, b"", line).unwrap();
        assert_eq!(
            (waited.kind(), waited.target(), waited.app()),
            (OutcomeKind::Canceled, None, Some("Mail"))
        );

        let cases = [
            (1, &b"Sharing did not open.\r\n"[..], ErrorKind::Failed, "Sharing did not open."),
            (
                2,
                b"Sharing could not start: x (input 2)\r\n",
                ErrorKind::InputRejected,
                "Sharing could not start: x (input 2)",
            ),
            (3, b"", ErrorKind::Unavailable, "QuibShare exited with code 3 and gave no reason."),
            (4, b"", ErrorKind::AbnormalExit, "QuibShare exited with code 4 and gave no reason."),
            (
                0xC000_0005,
                b"",
                ErrorKind::AbnormalExit,
                "QuibShare exited with code 0xC0000005 and gave no reason.",
            ),
        ];
        for (code, stderr, kind, message) in cases {
            // A line on standard output counts for nothing when the exit code says it failed.
            let error = outcome(code, stderr, line).unwrap_err();
            assert_eq!((error.kind(), error.exit_code(), error.message()), (kind, Some(code), message));
            assert_eq!(error.to_string(), message);
        }
    }

    // On every platform, and before the executable is looked for: it does not exist.
    #[test]
    fn a_nul_character_or_nothing_to_share_is_refused_by_naming_it_before_anything_starts() {
        let sharer = || Sharer::new("absent QuibShare.exe");
        let nul = "secret\0value";
        let file_nul = "A file's path holds a NUL character.";
        let nothing = "Nothing to share: give files, a text or a link.";
        let cases: [(Result<Outcome, Error>, &str); 10] = [
            (sharer().share(nul), file_nul),
            (sharer().title("T").share_all(["a.txt", nul]), file_nul),
            (share(nul), file_nul),
            (sharer().title(nul).share("a.txt"), "The title holds a NUL character."),
            (sharer().text(nul).share_all(Vec::<PathBuf>::new()), "The text holds a NUL character."),
            (sharer().url(nul).title(nul).share("a.txt"), "The title holds a NUL character."),
            (sharer().url(nul).share("a.txt"), "The link holds a NUL character."),
            (sharer().share_all(Vec::<PathBuf>::new()), nothing),
            (sharer().title("T").anchor(Rect::default()).wait(true).share_all([""; 0]), nothing),
            (sharer().text(nul).share_all(["a\0.txt"]), file_nul),
        ];
        for (result, message) in cases {
            let error = result.unwrap_err();
            assert_eq!(
                (error.kind(), error.exit_code(), error.message()),
                (ErrorKind::InputRejected, None, message)
            );
        }
    }

    #[test]
    fn the_crate_s_own_errors_say_it_once_leaving_the_system_s_text_to_the_source() {
        let spawn = Error::spawn_failed(
            Path::new(r"C:\App\QuibShare.exe"),
            std::io::Error::new(std::io::ErrorKind::NotFound, "The system cannot find the file specified."),
        );
        let cases = [
            (
                spawn,
                ErrorKind::SpawnFailed,
                r"QuibShare could not be started from C:\App\QuibShare.exe.",
                true,
            ),
            (
                Error::stopped(WAITED_DEADLINE),
                ErrorKind::Failed,
                "QuibShare did not exit within 725 seconds and was stopped.",
                false,
            ),
            (
                Error::stopped(DEADLINE),
                ErrorKind::Failed,
                "QuibShare did not exit within 60 seconds and was stopped.",
                false,
            ),
        ];
        for (error, kind, message, has_source) in cases {
            let source = std::error::Error::source(&error).map(|s| s.to_string());
            assert_eq!(
                (error.kind(), error.exit_code(), error.to_string()),
                (kind, None, message.to_owned())
            );
            assert_eq!(source.is_some(), has_source, "{}", message);
        }
    }
}
