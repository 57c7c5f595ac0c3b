// An app's use of the package, compiled under tsc --strict against the shipped declarations.
import { executablePath, isSupported, QuibShareError, share, type QuibShareErrorCode } from 'quibshare';

async function shareReport(file: string): Promise<string> {
  if (!isSupported()) return `cannot share ${file} with ${executablePath()}`;
  try {
    await share(file, { executablePath: executablePath() });
    await share(file);
    return 'shared';
  } catch (error) {
    if (!(error instanceof QuibShareError)) throw error;
    const code: QuibShareErrorCode = error.code;
    const exitCode: number | null = error.exitCode;
    switch (code) {
      case 'INPUT_REJECTED': case 'UNAVAILABLE': case 'FAILED': case 'ABNORMAL_EXIT':
      case 'UNSUPPORTED_PLATFORM': case 'SPAWN_FAILED':
        return `${error.name} ${code} ${exitCode ?? 'none'}: ${error.message}`;
    }
  }
}

void shareReport('report.pdf');
