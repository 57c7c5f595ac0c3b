//! How a share ended, and the reader of the outcome line QuibShare writes with `--wait`.

/// How far a share got. Without [`Sharer::wait`](crate::Sharer::wait) a share that succeeds is
/// always `Handed`; with it, how the share ended.
#[non_exhaustive]
#[derive(Debug, Clone, Copy, PartialEq, Eq, Hash)]
pub enum OutcomeKind {
    /// The sheet has the files; QuibShare was not asked to wait for more.
    Handed,
    /// The user shared the files with a target.
    Completed,
    /// The user closed the sheet without sharing.
    Canceled,
    /// The share ended without saying how: the sheet went away, reported nothing before the
    /// bound of 10 minutes (as after "Copy link"), or QuibShare's line could not be read.
    Ended,
}

/// A share that went through: how it ended and, when the sheet said, where the files went.
#[derive(Debug, Clone, PartialEq, Eq, Hash)]
pub struct Outcome {
    kind: OutcomeKind,
    target: Option<String>,
    app: Option<String>,
}

impl Outcome {
    /// How the share ended.
    pub fn kind(&self) -> OutcomeKind {
        self.kind
    }

    /// The AppUserModelId of the app the files went to, when the sheet reported it.
    pub fn target(&self) -> Option<&str> {
        self.target.as_deref()
    }

    /// The name of the app the user picked, when the sheet reported it.
    pub fn app(&self) -> Option<&str> {
        self.app.as_deref()
    }

    pub(crate) fn handed() -> Self {
        Outcome { kind: OutcomeKind::Handed, target: None, app: None }
    }

    /// Reads QuibShare's standard output after a waited share: its first line, one JSON object
    /// such as `{"outcome":"completed","target":"...","app":"..."}`. A line QuibShare never writes
    /// (not UTF-8, not well-formed JSON, a lone surrogate in any string, nesting deeper than
    /// [`MAX_DEPTH`]) reads as `Ended` and nothing else. Otherwise unknown keys are ignored, an
    /// unknown or missing word reads as `Ended`, a value that is no string or is empty is absent,
    /// and of duplicate keys the last counts.
    pub(crate) fn from_line(stdout: &[u8]) -> Self {
        let line = stdout.split(|&b| b == b'\n').next().unwrap_or_default();
        let members = std::str::from_utf8(line).ok().and_then(|text| Json { rest: text }.object());
        let mut outcome = Outcome { kind: OutcomeKind::Ended, target: None, app: None };
        let mut word = None;
        for (key, value) in members.unwrap_or_default() {
            let value = value.filter(|text| !text.is_empty());
            match key.as_str() {
                "outcome" => word = value,
                "target" => outcome.target = value,
                "app" => outcome.app = value,
                _ => {}
            }
        }
        outcome.kind = match word.as_deref() {
            Some("completed") => OutcomeKind::Completed,
            Some("canceled") => OutcomeKind::Canceled,
            _ => OutcomeKind::Ended,
        };
        outcome
    }
}

/// The deepest nesting a line may have, the outer object being level 1. Nested values are read by
/// a loop over a stack this deep at most, so no line can exhaust the caller's stack or time.
const MAX_DEPTH: usize = 32;

/// Just enough JSON for one object whose string members matter; every other value is checked
/// against the grammar and skipped.
struct Json<'a> {
    rest: &'a str,
}

impl<'a> Json<'a> {
    /// The whole of `rest` as one object: its members in order, each with its text if it is a
    /// string, or None if the line is not one well-formed object.
    fn object(mut self) -> Option<Vec<(String, Option<String>)>> {
        let mut members = Vec::new();
        self.expect('{')?;
        if !self.eat('}') {
            loop {
                let key = self.string()?;
                self.expect(':')?;
                self.skip_space();
                let value = if self.rest.starts_with('"') {
                    Some(self.string()?)
                } else {
                    self.nested_value()?;
                    None
                };
                members.push((key, value));
                if self.eat('}') {
                    break;
                }
                self.expect(',')?;
            }
        }
        self.skip_space();
        self.rest.is_empty().then_some(members)
    }

    /// Skips one value inside the outer object, whatever it holds, with no recursion: `open` holds
    /// the closing bracket of each array or object it is inside.
    fn nested_value(&mut self) -> Option<()> {
        let mut open: Vec<char> = Vec::new();
        loop {
            // At the start of a value.
            self.skip_space();
            let first = self.rest.chars().next()?;
            if first == '[' || first == '{' {
                // The outer object is level 1, so this one is level open.len() + 2.
                if open.len() + 2 > MAX_DEPTH {
                    return None;
                }
                let close = if first == '[' { ']' } else { '}' };
                self.rest = &self.rest[1..];
                if !self.eat(close) {
                    open.push(close);
                    if close == '}' {
                        self.string()?;
                        self.expect(':')?;
                    }
                    continue;
                }
            } else if first == '"' {
                self.string()?;
            } else {
                self.literal()?;
            }
            // After a value: close what ends here, then go on to the next value, if any.
            loop {
                let close = match open.last() {
                    Some(&close) => close,
                    None => return Some(()),
                };
                if self.eat(close) {
                    open.pop();
                    continue;
                }
                self.expect(',')?;
                if close == '}' {
                    self.string()?;
                    self.expect(':')?;
                }
                break;
            }
        }
    }

    /// `true`, `false`, `null` or a number, as JSON writes them.
    fn literal(&mut self) -> Option<()> {
        for word in ["true", "false", "null"] {
            if let Some(rest) = self.rest.strip_prefix(word) {
                self.rest = rest;
                return Some(());
            }
        }
        let bytes = self.rest.as_bytes();
        let digits = |from: usize| bytes[from..].iter().take_while(|b| b.is_ascii_digit()).count();
        let mut end = usize::from(bytes.first() == Some(&b'-'));
        end += match bytes.get(end)? {
            b'0' => 1,
            b'1'..=b'9' => digits(end),
            _ => return None,
        };
        if bytes.get(end) == Some(&b'.') {
            let fraction = digits(end + 1);
            if fraction == 0 {
                return None;
            }
            end += 1 + fraction;
        }
        if matches!(bytes.get(end), Some(b'e' | b'E')) {
            end += 1 + usize::from(matches!(bytes.get(end + 1), Some(b'+' | b'-')));
            let exponent = digits(end);
            if exponent == 0 {
                return None;
            }
            end += exponent;
        }
        self.rest = &self.rest[end..];
        Some(())
    }

    fn string(&mut self) -> Option<String> {
        self.expect('"')?;
        let mut text = String::new();
        loop {
            let end = self.rest.find(|c: char| c == '"' || c == '\\' || c < ' ')?;
            text.push_str(&self.rest[..end]);
            let special = self.rest[end..].chars().next()?;
            self.rest = &self.rest[end + 1..];
            match special {
                '"' => return Some(text),
                '\\' => text.push(self.escape()?),
                _ => return None, // a raw control character
            }
        }
    }

    /// The character an escape stands for, its backslash already read.
    fn escape(&mut self) -> Option<char> {
        let letter = self.rest.chars().next()?;
        self.rest = &self.rest[letter.len_utf8()..];
        Some(match letter {
            '"' | '\\' | '/' => letter,
            'b' => '\u{8}',
            'f' => '\u{c}',
            'n' => '\n',
            'r' => '\r',
            't' => '\t',
            'u' => {
                let unit = self.hex4()?;
                match unit {
                    0xD800..=0xDBFF => {
                        // A character beyond the BMP comes as a surrogate pair of two escapes.
                        self.rest = self.rest.strip_prefix("\\u")?;
                        let low = self.hex4()?;
                        if !(0xDC00..=0xDFFF).contains(&low) {
                            return None;
                        }
                        char::from_u32(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00))?
                    }
                    _ => char::from_u32(unit)?, // None for a lone low surrogate
                }
            }
            _ => return None,
        })
    }

    fn hex4(&mut self) -> Option<u32> {
        let digits = self.rest.get(..4)?;
        if !digits.chars().all(|c| c.is_ascii_hexdigit()) {
            return None;
        }
        self.rest = &self.rest[4..];
        u32::from_str_radix(digits, 16).ok()
    }

    fn skip_space(&mut self) {
        self.rest = self.rest.trim_start_matches(&[' ', '\t', '\r', '\n'][..]);
    }

    fn eat(&mut self, c: char) -> bool {
        self.skip_space();
        match self.rest.strip_prefix(c) {
            Some(rest) => {
                self.rest = rest;
                true
            }
            None => false,
        }
    }

    fn expect(&mut self, c: char) -> Option<()> {
        self.eat(c).then_some(())
    }
}

#[cfg(test)]
#[path = "../tests/outcome_lines/mod.rs"]
mod outcome_lines;

#[cfg(test)]
mod tests {
    use super::*;
    use std::time::{Duration, Instant};

    #[test]
    fn every_line_of_the_shared_table_reads_as_it_says_and_none_takes_long() {
        for row in outcome_lines::rows() {
            let started = Instant::now();
            let outcome = Outcome::from_line(&row.output);
            let took = started.elapsed();
            let kind = match row.outcome {
                "completed" => OutcomeKind::Completed,
                "canceled" => OutcomeKind::Canceled,
                _ => OutcomeKind::Ended,
            };
            assert_eq!(outcome, Outcome { kind, target: row.target, app: row.app }, "{}", row.name);
            assert!(took < Duration::from_secs(1), "{} took {:?}", row.name, took);
        }
    }
}
