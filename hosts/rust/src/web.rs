//! `navigator.share` for a web page in a WebView2 app (Tauri, or any host that can answer a
//! message): the page script to inject, and the host's side of one share, which checks what the
//! page sent again, writes its files into a folder of its own, shares them, waits for the end and
//! answers the page. A share blocks until it has ended: call it off the UI thread.
//!
//! The page is not trusted: its origin must be one the app allows, each window has one share at a
//! time, sizes are refused before anything is decoded, and no answer holds a path or a system's
//! words.

mod base64;
mod json;
mod request;

use std::path::{Path, PathBuf};
use std::sync::{Mutex, PoisonError};
use std::time::{Duration, SystemTime, UNIX_EPOCH};

use crate::{OutcomeKind, Rect, Sharer};
use request::{Refusal, BUSY, DENIED, FAILED};

/// The page script, to inject before the page's own scripts (in Tauri with
/// `append_invoke_initialization_script`, in WebView2 with `AddScriptToExecuteOnDocumentCreatedAsync`):
/// it gives the page `navigator.share` and `navigator.canShare`, replacing WebView2's own, and sends
/// each share to the host through Tauri's `invoke('quibshare_share', { request })` or, elsewhere,
/// WebView2's web messages. The npm package's `quibshare/electron/page.js`, byte for byte.
pub const PAGE_SCRIPT: &str = include_str!("web/page.js");

/// The origins a page may share from unless the app says otherwise: its own, where Tauri 2 serves
/// the app on Windows.
pub const APP_ORIGINS: [&str; 2] = ["http://tauri.localhost", "https://tauri.localhost"];
const FOLDER_PREFIX: &str = "quibshare-web-";
const DAY: Duration = Duration::from_secs(24 * 60 * 60);
/// The files' bytes of all shares held at once, across all windows: two of the largest.
const MAX_BYTES_IN_FLIGHT: usize = 2 * request::MAX_FILE_BYTES;

/// The window a page shares from: where the sheet opens, and whose one share at a time it is.
#[derive(Debug, Clone, Copy, PartialEq, Eq, Hash)]
pub struct Anchor {
    window: Option<isize>,
    rect: Option<Rect>,
}

impl Anchor {
    /// The window's client area in physical screen pixels, None where it could not be read.
    pub fn rect(&self) -> Option<Rect> {
        self.rect
    }
}

/// The anchor of the window with the raw handle `hwnd` (an `HWND`, as Tauri's
/// `WebviewWindow::hwnd` gives it): its client area, read now, in the physical pixels of a
/// per-monitor DPI-aware process such as Tauri's. Without a handle, or where the area cannot be
/// read, the sheet opens where QuibShare puts it by default.
pub fn anchor_of(hwnd: Option<isize>) -> Anchor {
    #[cfg(windows)]
    let rect = hwnd.and_then(crate::windows::client_rect);
    #[cfg(not(windows))]
    let rect = None;
    Anchor { window: hwnd, rect }
}

/// Shares what the page at `origin` asked for in `request_json` with the default [`Options`], and
/// returns the page's answer: `{"outcome":"completed"}` (or `canceled`, or `ended`) once the share
/// has ended, or `{"error":{"name":...,"message":...}}`. Only the sharer's executable is used.
pub fn share(sharer: &Sharer, origin: &str, request_json: &str, anchor: Anchor) -> String {
    Options::new().share(sharer, origin, request_json, anchor)
}

/// What a host allows its pages, and how long it keeps what they shared.
#[derive(Debug, Clone)]
pub struct Options {
    origins: Vec<String>,
    keep_files: Duration,
}

impl Default for Options {
    fn default() -> Self {
        Options::new()
    }
}

impl Options {
    /// Pages of [`APP_ORIGINS`] alone may share; files are removed a minute after the share.
    pub fn new() -> Self {
        Options {
            origins: APP_ORIGINS.iter().map(|o| o.to_string()).collect(),
            keep_files: Duration::from_secs(60),
        }
    }

    /// Lets pages of `origin` share too, written as a page's `location.origin` is (such as
    /// `http://localhost:1420` for a development server). Any script of such a page can share.
    pub fn allow_origin(mut self, origin: impl Into<String>) -> Self {
        self.origins.push(origin.into());
        self
    }

    /// How long the files stay once the share has ended, since the app they went to may still be
    /// reading them (a minute unless set; at most an hour).
    pub fn keep_files_for(mut self, keep: Duration) -> Self {
        self.keep_files = keep.min(Duration::from_secs(60 * 60));
        self
    }

    /// As [`share`], with these options.
    pub fn share(&self, sharer: &Sharer, origin: &str, request_json: &str, anchor: Anchor) -> String {
        match self.run(sharer.executable(), origin, request_json, anchor) {
            Ok(kind) => request::outcome_answer(match kind {
                OutcomeKind::Completed => "completed",
                OutcomeKind::Canceled => "canceled",
                _ => "ended",
            }),
            Err(refusal) => request::refusal_answer(refusal),
        }
    }

    fn run(
        &self,
        executable: &Path,
        origin: &str,
        request: &str,
        anchor: Anchor,
    ) -> Result<OutcomeKind, Refusal> {
        // Checked before anything else: a page of another origin learns nothing, not even "busy".
        if origin == "null" || !self.origins.iter().any(|allowed| allowed == origin) {
            return Err(DENIED);
        }
        let _turn = Turn::take(anchor.window).ok_or(BUSY)?;
        let checked = request::check(request)?;
        let _bytes = InFlight::reserve(checked.bytes).ok_or(FAILED)?;
        let data = request::decode(&checked.files)?;

        let temporary = std::env::temp_dir();
        remove_leftovers(&temporary, SystemTime::now());
        let mut sharer = Sharer::new(executable).wait(true);
        if let Some(rect) = anchor.rect {
            sharer = sharer.anchor(rect);
        }
        let [title, text, url] = request::command_texts(&checked);
        if let Some(title) = title {
            sharer = sharer.title(title);
        }
        if let Some(text) = text {
            sharer = sharer.text(text);
        }
        if let Some(url) = url {
            sharer = sharer.url(url);
        }
        // An empty title alone: the page's checks pass it, QuibShare would refuse it.
        if checked.files.is_empty() && text.is_none() && url.is_none() {
            return Err(FAILED);
        }
        let folder = if checked.files.is_empty() {
            None
        } else {
            Some(Folder::new(&temporary, self.keep_files).map_err(|_| FAILED)?)
        };
        let mut paths = Vec::new();
        if let Some(folder) = &folder {
            let budget = request::name_budget(units(folder.0.as_os_str())).ok_or(FAILED)?;
            let names: Vec<&str> = checked.files.iter().map(|file| file.name.as_str()).collect();
            paths = request::windows_file_names(&names, budget)
                .into_iter()
                .map(|name| folder.0.join(name))
                .collect();
        }
        let line: usize =
            sharer.arguments(&paths).iter().map(|a| request::argument_units(&a.to_string_lossy())).sum();
        if line + request::argument_units(&executable.to_string_lossy()) - 1 > request::MAX_COMMAND_UNITS {
            return Err(FAILED);
        }
        for (bytes, path) in data.iter().zip(&paths) {
            write_downloaded(path, bytes, origin).map_err(|_| FAILED)?;
        }
        let outcome = sharer.share_all(&paths).map_err(|_| FAILED)?;
        Ok(outcome.kind())
    }
}

fn units(text: &std::ffi::OsStr) -> usize {
    text.to_string_lossy().encode_utf16().count()
}

/// The file, marked as a browser marks a download from the internet zone. The mark is best
/// effort: a file system without named streams takes the file alone.
fn write_downloaded(path: &Path, bytes: &[u8], origin: &str) -> std::io::Result<()> {
    use std::io::Write;
    std::fs::OpenOptions::new().write(true).create_new(true).open(path)?.write_all(bytes)?;
    let mut mark = path.as_os_str().to_owned();
    mark.push(":Zone.Identifier");
    // An origin the app allowed with a line break in it would add lines of its own to the mark.
    let host = if origin.contains(|c| c == '\r' || c == '\n') {
        "about:internet".to_owned()
    } else {
        format!("{}/", origin)
    };
    let _ = std::fs::write(mark, format!("[ZoneTransfer]\r\nZoneId=3\r\nHostUrl={}\r\n", host));
    Ok(())
}

/// The windows with a share under way; a share without a window has the one slot `None`.
static TURNS: Mutex<Vec<Option<isize>>> = Mutex::new(Vec::new());

/// A window's one share, given back when it ends, on every path.
struct Turn(Option<isize>);

impl Turn {
    fn take(window: Option<isize>) -> Option<Turn> {
        let mut turns = TURNS.lock().unwrap_or_else(PoisonError::into_inner);
        if turns.contains(&window) {
            return None;
        }
        turns.push(window);
        Some(Turn(window))
    }
}

impl Drop for Turn {
    fn drop(&mut self) {
        TURNS.lock().unwrap_or_else(PoisonError::into_inner).retain(|&window| window != self.0);
    }
}

static IN_FLIGHT: Mutex<usize> = Mutex::new(0);

/// The bytes of one request, counted among those in flight until it ends.
struct InFlight(usize);

impl InFlight {
    fn reserve(bytes: usize) -> Option<InFlight> {
        let mut total = IN_FLIGHT.lock().unwrap_or_else(PoisonError::into_inner);
        if *total + bytes > MAX_BYTES_IN_FLIGHT {
            return None;
        }
        *total += bytes;
        Some(InFlight(bytes))
    }
}

impl Drop for InFlight {
    fn drop(&mut self) {
        *IN_FLIGHT.lock().unwrap_or_else(PoisonError::into_inner) -= self.0;
    }
}

/// A folder of one share's own, removed `keep` after it is dropped, since the app the files went
/// to may still be reading them.
struct Folder(PathBuf, Duration);

impl Folder {
    /// Named with the time it was made, so that a later share can tell a leftover.
    fn new(temporary: &Path, keep: Duration) -> std::io::Result<Folder> {
        let made = SystemTime::now().duration_since(UNIX_EPOCH).unwrap_or_default().as_millis();
        let mut n = 0;
        loop {
            let folder = temporary.join(format!("{}{}-{}-{}", FOLDER_PREFIX, made, std::process::id(), n));
            match std::fs::create_dir(&folder) {
                Ok(()) => return Ok(Folder(folder, keep)),
                // Another share of this process in the same millisecond: take the next name.
                Err(e) if e.kind() == std::io::ErrorKind::AlreadyExists && n < 1000 => n += 1,
                Err(e) => return Err(e),
            }
        }
    }
}

impl Drop for Folder {
    fn drop(&mut self) {
        let (folder, keep) = (std::mem::take(&mut self.0), self.1);
        std::thread::spawn(move || {
            std::thread::sleep(keep);
            // Still open in the app shared to: a later share removes it once a day old.
            let _ = std::fs::remove_dir_all(folder);
        });
    }
}

/// Removes what a crash or a kill left in `temporary`: share folders made more than a day ago by
/// their name, and unchanged for a day.
fn remove_leftovers(temporary: &Path, now: SystemTime) {
    let entries = match std::fs::read_dir(temporary) {
        Ok(entries) => entries,
        Err(_) => return,
    };
    for entry in entries.flatten() {
        let name = entry.file_name().to_string_lossy().into_owned();
        // The temporary folder may hold thousands of others: only ours are looked at further.
        if !name.starts_with(FOLDER_PREFIX) {
            continue;
        }
        let modified = entry.metadata().and_then(|m| m.modified()).ok();
        if is_leftover(&name, modified, now) {
            let _ = std::fs::remove_dir_all(entry.path());
        }
    }
}

fn is_leftover(name: &str, modified: Option<SystemTime>, now: SystemTime) -> bool {
    let made = name.strip_prefix(FOLDER_PREFIX).and_then(|rest| rest.split('-').next());
    let made = made.filter(|digits| !digits.is_empty()).and_then(|digits| digits.parse::<u64>().ok());
    let older = |time: SystemTime| now.duration_since(time).map_or(false, |age| age > DAY);
    match (made, modified) {
        (Some(ms), Some(modified)) => older(UNIX_EPOCH + Duration::from_millis(ms)) && older(modified),
        _ => false,
    }
}

#[cfg(test)]
mod tests {
    use super::json::{self, Value};
    use super::request::{self, Refusal};
    use super::*;

    /// The table every main side that takes pages' requests is tested with; its "about" says how
    /// strings and files are written.
    fn table() -> Value {
        json::parse(include_str!("../../../tests/web_share.json"), 32).expect("the table is JSON")
    }

    /// A string written whole, or as a list of parts, each a string or `{"repeat", "count"}`.
    fn text(value: &Value) -> String {
        match value {
            Value::String(text) => text.clone(),
            Value::Array(parts) => parts.iter().map(text).collect(),
            Value::Object(_) => {
                text(value.get("repeat").unwrap()).repeat(number(value.get("count").unwrap()))
            }
            _ => panic!("no text: {:?}", value),
        }
    }

    fn number(value: &Value) -> usize {
        match value {
            Value::Number(digits) => digits.parse().unwrap(),
            _ => panic!("no number: {:?}", value),
        }
    }

    fn list(value: Option<&Value>) -> &[Value] {
        match value {
            Some(Value::Array(items)) => items,
            _ => &[],
        }
    }

    /// Base64 as a page's FileReader writes it; zeros, of which the table has 50 MiB, quickly.
    fn base64(bytes: &[u8]) -> String {
        if bytes.iter().all(|&b| b == 0) {
            return "AAAA".repeat(bytes.len() / 3) + ["", "AA==", "AAA="][bytes.len() % 3];
        }
        let alphabet = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        let mut out = String::new();
        for chunk in bytes.chunks(3) {
            let n = chunk.iter().enumerate().fold(0u32, |n, (i, &b)| n | (b as u32) << (16 - 8 * i));
            for i in 0..4 {
                out.push(if i <= chunk.len() {
                    alphabet[(n >> (18 - 6 * i) & 63) as usize] as char
                } else {
                    '='
                });
            }
        }
        out
    }

    /// `value` as JSON text.
    fn write(value: &Value) -> String {
        match value {
            Value::Null => "null".to_owned(),
            Value::Bool(b) => b.to_string(),
            Value::Number(digits) => digits.clone(),
            Value::String(s) => json::quote(s),
            Value::Array(items) => format!("[{}]", items.iter().map(write).collect::<Vec<_>>().join(",")),
            Value::Object(members) => {
                let members: Vec<String> =
                    members.iter().map(|(k, v)| format!("{}:{}", json::quote(k), write(v))).collect();
                format!("{{{}}}", members.join(","))
            }
        }
    }

    /// A row's request as the page script sends it: texts made whole, each file with its bytes.
    fn request_of(row: &Value) -> String {
        if let Some(Value::String(raw)) = row.get("request_text") {
            return raw.clone();
        }
        let members = match row.get("request") {
            Some(Value::Object(members)) => members,
            Some(other) => return write(other),
            None => panic!("no request in {:?}", row),
        };
        let member = |(key, value): &(String, Value)| {
            let value = match (key.as_str(), value) {
                ("files", Value::Array(files)) => {
                    format!("[{}]", files.iter().flat_map(file).collect::<Vec<_>>().join(","))
                }
                (_, Value::Array(_)) => json::quote(&text(value)),
                _ => write(value),
            };
            format!("{}:{}", json::quote(key), value)
        };
        format!("{{{}}}", members.iter().map(member).collect::<Vec<_>>().join(","))
    }

    fn file(file: &Value) -> Vec<String> {
        let bytes = match (file.get("text"), file.get("size")) {
            (Some(content), _) => text(content).into_bytes(),
            (_, Some(size)) => vec![0; number(size)],
            _ => return vec![write(file)],
        };
        let name = json::quote(&text(file.get("name").unwrap()));
        let times = file.get("times").map_or(1, number);
        vec![format!(r#"{{"name":{},"type":"text/plain","data":"{}"}}"#, name, base64(&bytes)); times]
    }

    /// What QuibShare gets for a request: its title, text and link, and each file's name and bytes.
    type Gets = (Option<String>, Option<String>, Option<String>, Vec<(String, Vec<u8>)>);

    fn shared(request: &str) -> Result<Gets, Refusal> {
        let checked = request::check(request)?;
        let data = request::decode(&checked.files)?;
        let [title, text, url] = request::command_texts(&checked).map(|t| t.map(String::from));
        let names = checked.files.into_iter().map(|file| file.name);
        Ok((title, text, url, names.zip(data).collect()))
    }

    fn gets(row: &Value) -> Gets {
        let gets = row.get("gets").unwrap();
        let member = |key| gets.get(key).map(text);
        let files = list(gets.get("files")).iter().map(|pair| match pair {
            Value::Array(pair) => (text(&pair[0]), text(&pair[1]).into_bytes()),
            _ => panic!("no file: {:?}", pair),
        });
        (member("title"), member("text"), member("url"), files.collect())
    }

    #[test]
    fn every_request_of_the_shared_table_is_refused_or_shared_as_it_says_within_its_limits() {
        let table = table();
        let answers = table.get("answers").unwrap();
        let rows = ["refused", "shared", "wire"].iter().flat_map(|section| list(table.get(section)));
        for row in rows {
            let request = request_of(row);
            let what: String = request.chars().take(100).collect();
            match row.get("answer") {
                Some(Value::String(key)) => {
                    let refusal = shared(&request).map(|gets| gets.3.len()).unwrap_err();
                    let written = json::parse(&request::refusal_answer(refusal), 2);
                    assert_eq!(written.as_ref(), answers.get(key), "{}", what);
                }
                _ => assert_eq!(shared(&request), Ok(gets(row)), "{}", what),
            }
        }
        let limits = table.get("limits").unwrap();
        let limit = |key| number(limits.get(key).unwrap());
        assert_eq!(
            [limit("files"), limit("file_bytes"), limit("command_units"), limit("bytes_in_flight")],
            [request::MAX_FILES, request::MAX_FILE_BYTES, request::MAX_COMMAND_UNITS, MAX_BYTES_IN_FLIGHT]
        );
    }

    #[test]
    fn every_name_of_the_shared_table_is_written_as_it_says() {
        for group in list(table().get("names")) {
            let folder = number(group.get("folder_units").unwrap());
            let given: Vec<String> = list(group.get("given")).iter().map(text).collect();
            let safe: Vec<String> = list(group.get("safe")).iter().map(text).collect();
            let given_refs: Vec<&str> = given.iter().map(String::as_str).collect();
            let budget = request::name_budget(folder).expect("room for a name");
            assert_eq!(request::windows_file_names(&given_refs, budget), safe, "{:?}", given);
        }
        // The budget leaves the whole path within 259 units; a folder too long for any name has none.
        assert_eq!(
            (
                request::name_budget(68),
                request::name_budget(2),
                request::name_budget(238),
                request::name_budget(237)
            ),
            (Some(185), Some(250), None, Some(16))
        );
    }

    #[test]
    fn only_folders_made_and_unchanged_for_over_a_day_are_leftovers() {
        let now = UNIX_EPOCH + Duration::from_secs(10 * 24 * 3600);
        let ms = |days_ago: u64| {
            (now - Duration::from_secs(days_ago * 24 * 3600 + 1))
                .duration_since(UNIX_EPOCH)
                .unwrap()
                .as_millis()
        };
        let old = Some(now - DAY - Duration::from_secs(1));
        let cases = [
            (format!("quibshare-web-{}-12-0", ms(2)), old, true),
            (format!("quibshare-web-{}-aBc123", ms(1)), old, true),
            (format!("quibshare-web-{}-12-0", ms(0)), old, false),
            (format!("quibshare-web-{}-12-0", ms(2)), Some(now), false),
            (format!("quibshare-web-{}-12-0", ms(2)), None, false),
            (format!("quibshare-{}-12-0", ms(2)), old, false),
            ("quibshare-web--12-0".to_owned(), old, false),
            ("quibshare-web-x1-12".to_owned(), old, false),
        ];
        for (name, modified, expected) in cases {
            assert_eq!(is_leftover(&name, modified, now), expected, "{} {:?}", name, modified);
        }
    }

    #[test]
    fn answers_are_one_json_object_and_the_origin_and_the_window_s_turn_come_first() {
        let refused = |name: &str, message: &str| {
            format!("{{\"error\":{{\"name\":\"{}\",\"message\":\"{}\"}}}}", name, message)
        };
        let sharer = Sharer::new("absent QuibShare.exe");
        let share =
            |origin: &str, request: &str| Options::new().share(&sharer, origin, request, anchor_of(Some(7)));
        let denied = refused("NotAllowedError", "Permission denied");
        assert_eq!(share("https://evil.example", "{\"text\":\"x\"}"), denied);
        assert_eq!(share("null", "{}"), denied);
        assert_eq!(share("http://tauri.localhost.evil.example", "{}"), denied);
        assert_eq!(
            share("http://tauri.localhost", r#"{"text":7}"#),
            refused("TypeError", "Invalid share data")
        );
        // A share that cannot start tells the page no path and no system text.
        assert_eq!(
            share("https://tauri.localhost", "{\"text\":\"x\"}"),
            refused("AbortError", "Share failed")
        );
        let widened = Options::new().allow_origin("http://localhost:1420");
        assert_eq!(
            widened.share(&sharer, "http://localhost:1420", "{\"text\":\"x\"}", anchor_of(None)),
            refused("AbortError", "Share failed")
        );
        assert_eq!(request::outcome_answer("completed"), "{\"outcome\":\"completed\"}");

        let _turn = Turn::take(Some(7)).unwrap();
        let busy = refused("InvalidStateError", "An earlier share has not yet completed.");
        assert_eq!(share("http://tauri.localhost", "{\"text\":\"x\"}"), busy);
        assert_eq!(share("https://evil.example", "{\"text\":\"x\"}"), denied);
        assert!(Turn::take(Some(8)).is_some() && Turn::take(None).is_some());
    }
}
