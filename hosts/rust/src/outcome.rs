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

    /// Reads QuibShare's standard output after a waited share: one flat JSON object such as
    /// `{"outcome":"completed","target":"...","app":"..."}`. Unknown keys are skipped; a missing
    /// or malformed line, or an outcome word this crate does not know, reads as `Ended`.
    pub(crate) fn from_line(stdout: &[u8]) -> Self {
        let line = stdout.split(|&b| b == b'\n').next().unwrap_or_default();
        let members = std::str::from_utf8(line).ok().and_then(|text| Json { rest: text }.object());
        let mut outcome = Outcome { kind: OutcomeKind::Ended, target: None, app: None };
        for (key, value) in members.unwrap_or_default() {
            match (key.as_str(), value) {
                ("outcome", Some(word)) => {
                    outcome.kind = match word.as_str() {
                        "completed" => OutcomeKind::Completed,
                        "canceled" => OutcomeKind::Canceled,
                        _ => OutcomeKind::Ended,
                    }
                }
                ("target", value) => outcome.target = value,
                ("app", value) => outcome.app = value,
                _ => {}
            }
        }
        outcome
    }
}

/// Just enough JSON for one flat object; values other than strings are skipped as `None`.
struct Json<'a> {
    rest: &'a str,
}

impl<'a> Json<'a> {
    /// The whole of `rest` as one object: its members in order, or None if it is malformed.
    fn object(mut self) -> Option<Vec<(String, Option<String>)>> {
        let members = self.members()?;
        self.skip_space();
        self.rest.is_empty().then_some(members)
    }

    fn members(&mut self) -> Option<Vec<(String, Option<String>)>> {
        let mut members = Vec::new();
        self.expect('{')?;
        if self.eat('}') {
            return Some(members);
        }
        loop {
            let key = self.string()?;
            self.expect(':')?;
            members.push((key, self.value()?));
            if self.eat('}') {
                return Some(members);
            }
            self.expect(',')?;
        }
    }

    /// A value: Some(text) for a string, None for any other well-formed value.
    fn value(&mut self) -> Option<Option<String>> {
        self.skip_space();
        match self.rest.chars().next()? {
            '"' => self.string().map(Some),
            '{' => self.members().map(|_| None),
            '[' => {
                self.expect('[')?;
                if !self.eat(']') {
                    loop {
                        self.value()?;
                        if self.eat(']') {
                            break;
                        }
                        self.expect(',')?;
                    }
                }
                Some(None)
            }
            _ => {
                // A number, true, false or null.
                let end = self
                    .rest
                    .find(|c: char| !(c.is_ascii_alphanumeric() || "+-.".contains(c)))
                    .unwrap_or(self.rest.len());
                if end == 0 {
                    return None;
                }
                self.rest = &self.rest[end..];
                Some(None)
            }
        }
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
mod tests {
    use super::*;

    fn outcome(kind: OutcomeKind, target: Option<&str>, app: Option<&str>) -> Outcome {
        Outcome { kind, target: target.map(String::from), app: app.map(String::from) }
    }

    #[test]
    fn the_outcome_line_reads_its_words_escapes_and_missing_keys_and_anything_else_as_ended() {
        use OutcomeKind::{Canceled, Completed, Ended};
        let cases: &[(&[u8], Outcome)] = &[
            (
                b"{\"outcome\":\"completed\",\"target\":\"microsoft.windowscommunicationsapps_8wekyb3d8bbwe!microsoft.windowslive.mail\",\"app\":\"Mail\"}\r\n",
                outcome(
                    Completed,
                    Some("microsoft.windowscommunicationsapps_8wekyb3d8bbwe!microsoft.windowslive.mail"),
                    Some("Mail"),
                ),
            ),
            (b"{\"outcome\":\"canceled\"}\r\n", outcome(Canceled, None, None)),
            (b"{\"outcome\":\"completed\",\"app\":\"Mail\"}", outcome(Completed, None, Some("Mail"))),
            (b"{\"outcome\":\"ended\",\"target\":\"T\"}\r\n", outcome(Ended, Some("T"), None)),
            // Escapes, raw UTF-8 and a surrogate pair.
            (
                "{\"outcome\":\"completed\",\"app\":\"\\\"Q\\\\\\u0001\\u001f\\n\\/\\ud83d\\udce7 Ü\"}".as_bytes(),
                outcome(Completed, None, Some("\"Q\\\u{1}\u{1f}\n/\u{1F4E7} Ü")),
            ),
            // Keys a later version may add, of any kind, before and after.
            (
                b"{\"v\":2,\"extra\":{\"a\":[1,\"x\",{}],\"b\":null},\"outcome\":\"canceled\",\"target\":\"T\",\"at\":true}",
                outcome(Canceled, Some("T"), None),
            ),
            (b" { \"outcome\" : \"completed\" , \"app\" : \"A\" } \r\n", outcome(Completed, None, Some("A"))),
            // A word this crate does not know, and lines without a word.
            (b"{\"outcome\":\"shared\",\"app\":\"Mail\"}", outcome(Ended, None, Some("Mail"))),
            (b"{\"target\":\"T\"}", outcome(Ended, Some("T"), None)),
            (b"{\"outcome\":1}", outcome(Ended, None, None)),
            (b"", outcome(Ended, None, None)),
            (b"\r\n", outcome(Ended, None, None)),
            // Malformed lines say nothing, not even their target.
            (b"{\"outcome\":\"completed\",\"target\":\"T\"", outcome(Ended, None, None)),
            (b"{\"outcome\":\"completed\",\"target\":\"T\"}x", outcome(Ended, None, None)),
            (b"{\"outcome\":\"completed\",}", outcome(Ended, None, None)),
            (b"{\"outcome\":\"completed\" \"app\":\"A\"}", outcome(Ended, None, None)),
            (b"{\"outcome\":\"completed\",\"app\":\"\\x\"}", outcome(Ended, None, None)),
            (b"{\"outcome\":\"completed\",\"app\":\"\\u12\"}", outcome(Ended, None, None)),
            (b"{\"outcome\":\"completed\",\"app\":\"\\ud83d\"}", outcome(Ended, None, None)),
            (b"{\"outcome\":\"completed\",\"app\":\"\\udce7\"}", outcome(Ended, None, None)),
            (b"{\"outcome\":\"completed\",\"app\":\"a\tb\"}", outcome(Ended, None, None)),
            (b"{\"outcome\":\"completed\",\"app\":\"\xff\"}", outcome(Ended, None, None)),
            (b"{\"outcome\":\"completed\",\"v\":}", outcome(Ended, None, None)),
            (b"[\"outcome\",\"completed\"]", outcome(Ended, None, None)),
            // Only the first line counts.
            (b"{\"outcome\":\"canceled\"}\r\n{\"outcome\":\"completed\"}\r\n", outcome(Canceled, None, None)),
        ];
        for (line, expected) in cases {
            assert_eq!(&Outcome::from_line(line), expected, "{}", String::from_utf8_lossy(line));
        }
    }
}
