//! What the host makes of a page's share request, as pure functions: every field checked again as
//! if the page had checked nothing, sizes refused before anything is decoded, and the names the
//! files are written under.

use super::base64;
use super::json::{self, Value};

pub(crate) const MAX_FILES: usize = 10;
pub(crate) const MAX_FILE_BYTES: usize = 50 * 1024 * 1024;
const MAX_TITLE_UNITS: usize = 256;
const MAX_TEXT_UNITS: usize = 16384;
const MAX_URL_UNITS: usize = 2048;
/// Windows' limit on a command line, in UTF-16 units without its NUL.
pub(crate) const MAX_COMMAND_UNITS: usize = 32766;
/// The longest request worth reading: the files' bytes in base64, the texts each character
/// escaped, and room for the names and the JSON around them.
pub(crate) const MAX_REQUEST_BYTES: usize =
    MAX_FILE_BYTES / 3 * 4 + 4 + 6 * (MAX_TITLE_UNITS + MAX_TEXT_UNITS + MAX_URL_UNITS) + MAX_FILES * 4096;
/// Windows' limit on a path without its long-path setting, and on one name within it.
const MAX_PATH_UNITS: usize = 259;
const MAX_NAME_UNITS: usize = 255;
/// Room kept in each name for " (10)", which tells apart files of one name.
const NUMBER_ROOM: usize = 5;
/// An extension this long or shorter survives a cut name.
const MAX_KEPT_EXTENSION: usize = 16;

// Chromium's permitted file types, by extension.
const WEB_EXTENSIONS: [&str; 41] = [
    "pdf", "flac", "m4a", "mp3", "oga", "ogg", "opus", "wav", "weba", "avif", "bmp", "gif", "ico", "jfif",
    "jpeg", "jpg", "pjp", "pjpeg", "png", "svg", "svgz", "tif", "tiff", "webp", "xbm", "css", "csv", "ehtml",
    "htm", "html", "shtm", "shtml", "text", "txt", "m4v", "mp4", "mpeg", "mpg", "ogm", "ogv", "webm",
];

/// What a page is answered with when its share does not happen: a DOMException's name (or
/// `TypeError`) and a fixed text, never one that holds a path or a system's words.
#[derive(Debug, Clone, Copy, PartialEq, Eq)]
pub(crate) struct Refusal {
    pub(crate) name: &'static str,
    pub(crate) message: &'static str,
}

pub(crate) const DENIED: Refusal = Refusal { name: "NotAllowedError", message: "Permission denied" };
pub(crate) const INVALID: Refusal = Refusal { name: "TypeError", message: "Invalid share data" };
pub(crate) const NOTHING: Refusal = Refusal {
    name: "TypeError",
    message:
        "No known share data fields supplied. If using only new fields (other than title, text and url), \
              you must feature-detect them first.",
};
pub(crate) const BAD_URL: Refusal = Refusal { name: "TypeError", message: "Invalid URL" };
pub(crate) const BUSY: Refusal =
    Refusal { name: "InvalidStateError", message: "An earlier share has not yet completed." };
pub(crate) const FAILED: Refusal = Refusal { name: "AbortError", message: "Share failed" };

/// One file of a request: the name the page gave it, and its bytes in base64 until decoded.
#[derive(Debug, PartialEq, Eq)]
pub(crate) struct File {
    pub(crate) name: String,
    pub(crate) data: String,
}

/// A request that passed every check; a text is there where the page gave it, even empty.
#[derive(Debug, Default, PartialEq, Eq)]
pub(crate) struct Request {
    pub(crate) title: Option<String>,
    pub(crate) text: Option<String>,
    pub(crate) url: Option<String>,
    pub(crate) files: Vec<File>,
    /// What the files decode to, from their base64 lengths.
    pub(crate) bytes: usize,
}

/// The share a page asked for, or what to refuse it with, as if the page had checked nothing.
/// Its length is checked before it is parsed, and the files' decoded sizes, with every other
/// check, before any is decoded.
pub(crate) fn check(request: &str) -> Result<Request, Refusal> {
    if request.len() > MAX_REQUEST_BYTES {
        return Err(DENIED);
    }
    // Taken apart rather than copied: a request holds up to 70 MB of base64.
    let mut value = json::parse(request, json::MAX_DEPTH).ok_or(INVALID)?;
    if !matches!(value, Value::Object(_)) {
        return Err(INVALID);
    }
    let mut text_of = |name: &str| match value.take(name) {
        None => Ok(None),
        // A command line ends a string at NUL.
        Some(Value::String(text)) if !text.contains('\0') => Ok(Some(text)),
        Some(_) => Err(INVALID),
    };
    let mut checked = Request {
        title: text_of("title")?,
        text: text_of("text")?,
        url: text_of("url")?,
        ..Request::default()
    };
    let files = match value.take("files") {
        None => Vec::new(),
        Some(Value::Array(files)) => files,
        Some(_) => return Err(INVALID),
    };
    for mut file in files {
        let (name, data) = match (file.take("name"), file.take("data")) {
            (Some(Value::String(name)), Some(Value::String(data))) if !name.is_empty() => (name, data),
            _ => return Err(INVALID),
        };
        checked.bytes = checked.bytes.saturating_add(base64::decoded_len(&data).ok_or(INVALID)?);
        checked.files.push(File { name, data });
    }
    if checked.title.is_none() && checked.text.is_none() && checked.url.is_none() && checked.files.is_empty()
    {
        return Err(NOTHING);
    }
    if let Some(url) = &checked.url {
        if !is_web_link(url) {
            return Err(BAD_URL);
        }
    }
    checked.title = checked.title.map(|title| cut(&title, MAX_TITLE_UNITS).to_owned());
    let units = |text: &Option<String>| text.as_deref().map_or(0, |t| t.encode_utf16().count());
    if checked.files.len() > MAX_FILES
        || checked.bytes > MAX_FILE_BYTES
        || units(&checked.text) > MAX_TEXT_UNITS
        || units(&checked.url) > MAX_URL_UNITS
        || !texts_fit(&checked)
        || !checked.files.iter().all(|file| WEB_EXTENSIONS.contains(&extension(&file.name).as_str()))
    {
        return Err(DENIED);
    }
    Ok(checked)
}

/// Each file's bytes, once the bytes of all shares in flight have room for them.
pub(crate) fn decode(files: &[File]) -> Result<Vec<Vec<u8>>, Refusal> {
    files.iter().map(|file| base64::decode(&file.data).ok_or(INVALID)).collect()
}

/// The texts as QuibShare gets them: empty ones left out (it refuses them), and a title alone
/// given as the text too, since a sheet with nothing but a title shows nothing to share.
pub(crate) fn command_texts(request: &Request) -> [Option<&str>; 3] {
    fn given(text: &Option<String>) -> Option<&str> {
        text.as_deref().filter(|text| !text.is_empty())
    }
    let (title, mut text, url) = (given(&request.title), given(&request.text), given(&request.url));
    if title.is_some() && text.is_none() && url.is_none() && request.files.is_empty() {
        text = title;
    }
    [title, text, url]
}

/// One argument's units on the command line, quoted as the npm package's Node quotes it, with
/// the space before it: the same budget in both packages, whatever their runtimes write.
pub(crate) fn argument_units(value: &str) -> usize {
    let length = value.encode_utf16().count();
    if value.is_empty() {
        return 3;
    }
    if !value.contains(|c| c == ' ' || c == '\t' || c == '"') {
        return length + 1;
    }
    let (mut units, mut slashes) = (length + 3, 0);
    for c in value.chars() {
        match c {
            '\\' => slashes += 1,
            '"' => {
                units += slashes + 1;
                slashes = 0;
            }
            _ => slashes = 0,
        }
    }
    units + slashes
}

/// Whether the texts, with their option names, leave room on the command line for the
/// executable, up to ten paths and the flags.
fn texts_fit(request: &Request) -> bool {
    let names = ["title", "text", "url"];
    let units: usize = command_texts(request)
        .iter()
        .zip(names)
        .filter_map(|(text, name)| text.map(|text| name.len() + 3 + argument_units(text)))
        .sum();
    units <= MAX_COMMAND_UNITS - 8192
}

/// An absolute http or https link with a host, as the page's URL parser wrote it: nothing the
/// page resolved can be relative here, since the host does not know the page's base.
fn is_web_link(url: &str) -> bool {
    let rest = url.strip_prefix("https://").or_else(|| url.strip_prefix("http://"));
    rest.map_or(false, |rest| {
        let host = rest.split(|c| c == '/' || c == '?' || c == '#').next().unwrap_or("");
        !host.is_empty() && !url.chars().any(|c| c <= ' ' || c == '\\' || c == '\u{7f}')
    })
}

fn extension(name: &str) -> String {
    name.rfind('.').map_or(String::new(), |dot| name[dot + 1..].to_lowercase())
}

/// At most `units` UTF-16 units of `text`, never splitting a character.
fn cut(text: &str, units: usize) -> &str {
    let mut used = 0;
    for (at, c) in text.char_indices() {
        used += c.len_utf16();
        if used > units {
            return &text[..at];
        }
    }
    text
}

/// How many UTF-16 units a name may have in `folder_units`' folder: the whole path within
/// Windows' limit, with room for " (NN)". None where the folder leaves too little for any name.
pub(crate) fn name_budget(folder_units: usize) -> Option<usize> {
    let budget =
        MAX_PATH_UNITS.checked_sub(folder_units + 1)?.min(MAX_NAME_UNITS).checked_sub(NUMBER_ROOM)?;
    (budget >= MAX_KEPT_EXTENSION).then_some(budget)
}

/// Names for `names` that Windows takes as they are, each in the one folder, distinct without
/// case, each at most `budget` units with room for the number: no folder parts, no device names,
/// no characters Windows refuses, no trailing dots or spaces.
pub(crate) fn windows_file_names(names: &[&str], budget: usize) -> Vec<String> {
    let mut taken: Vec<String> = Vec::new();
    names
        .iter()
        .map(|given| {
            let safe = safe_name(given, budget);
            let (stem, ext) = match safe.rfind('.') {
                Some(dot) if dot > 0 => safe.split_at(dot),
                _ => (&safe[..], ""),
            };
            let mut name = safe.clone();
            let mut n = 2;
            while taken.contains(&name.to_lowercase()) {
                name = format!("{} ({}){}", stem, n, ext);
                n += 1;
            }
            taken.push(name.to_lowercase());
            name
        })
        .collect()
}

fn safe_name(given: &str, budget: usize) -> String {
    let base = &given[given.rfind(|c| c == '/' || c == '\\').map_or(0, |at| at + 1)..];
    let replaced: String =
        base.chars().map(|c| if "<>:\"|?*".contains(c) || c < ' ' { '_' } else { c }).collect();
    let mut name = trim_end(&replaced).to_owned();
    if name.is_empty() {
        name = "file".to_owned();
    }
    if is_device_name(&name) {
        name.insert(0, '_');
    }
    if name.encode_utf16().count() > budget {
        let ext = match name.rfind('.') {
            Some(dot) if dot > 0 && name[dot..].encode_utf16().count() <= MAX_KEPT_EXTENSION => &name[dot..],
            _ => "",
        };
        let stem = trim_end(cut(&name, budget - ext.encode_utf16().count()));
        // A stem cut to nothing but dots and spaces keeps a letter, so the name is never ".ext".
        name = format!("{}{}", if stem.is_empty() { "file" } else { stem }, ext);
    }
    name
}

/// Windows drops trailing dots and spaces from a name, so the file would be another's.
fn trim_end(name: &str) -> &str {
    name.trim_end_matches(|c| c == '.' || c == ' ')
}

/// Names Windows opens as a device instead of a file, whatever the extension.
fn is_device_name(name: &str) -> bool {
    let stem = name.split('.').next().unwrap_or("").trim_end_matches(' ').to_uppercase();
    let numbered = |prefix: &str| {
        stem.strip_prefix(prefix).map_or(false, |n| {
            let mut chars = n.chars();
            matches!((chars.next(), chars.next()), (Some('0'..='9' | '¹' | '²' | '³'), None))
        })
    };
    ["CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"].contains(&stem.as_str())
        || numbered("COM")
        || numbered("LPT")
}

/// The answer for a share that ended: `completed`, `canceled` or `ended`.
pub(crate) fn outcome_answer(word: &str) -> String {
    format!("{{\"outcome\":{}}}", json::quote(word))
}

/// The answer for a share that did not happen.
pub(crate) fn refusal_answer(refusal: Refusal) -> String {
    format!(
        "{{\"error\":{{\"name\":{},\"message\":{}}}}}",
        json::quote(refusal.name),
        json::quote(refusal.message)
    )
}
