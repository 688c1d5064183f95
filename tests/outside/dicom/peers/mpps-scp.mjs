// A performed procedure step provider for the tests: takes N-CREATE and N-SET of Modality
// Performed Procedure Step on a loopback port and writes each request, in the order received, as
// one JSON line to the log file: {"service", "uid", "calling", "attributes"} (attributes as the
// toolkit names them). Usage: node mpps-scp.mjs PORT LOGFILE
import dimse from 'dcmjs-dimse';
import fs from 'node:fs';

const { Server, Scp, constants, responses } = dimse;
const { PresentationContextResult, Status, TransferSyntax } = constants;
const { NCreateResponse, NSetResponse } = responses;
const procedureStep = '1.2.840.10008.3.1.2.3.3';
const [port, log] = [Number(process.argv[2]), process.argv[3]];

function record(service, uid, calling, request) {
  const dataset = request.getDataset();
  const line = JSON.stringify({ service, uid, calling, attributes: dataset ? dataset.getElements() : {} });
  fs.appendFileSync(log, line + '\n');
}

class StepProvider extends Scp {
  associationRequested(association) {
    this.association = association;
    for (const c of association.getPresentationContexts()) {
      const context = association.getPresentationContext(c.id);
      const syntaxes = context.getTransferSyntaxUids();
      const chosen = [TransferSyntax.ExplicitVRLittleEndian, TransferSyntax.ImplicitVRLittleEndian].find((t) => syntaxes.includes(t));
      if (context.getAbstractSyntaxUid() !== procedureStep)
        context.setResult(PresentationContextResult.RejectAbstractSyntaxNotSupported);
      else if (!chosen)
        context.setResult(PresentationContextResult.RejectTransferSyntaxesNotSupported);
      else
        context.setResult(PresentationContextResult.Accept, chosen);
    }
    this.sendAssociationAccept();
  }

  associationReleaseRequested() {
    this.sendAssociationReleaseResponse();
  }

  nCreateRequest(request, callback) {
    record('N-CREATE', request.getAffectedSopInstanceUid(), this.association.getCallingAeTitle(), request);
    const response = NCreateResponse.fromRequest(request);
    response.setStatus(Status.Success);
    callback(response);
  }

  nSetRequest(request, callback) {
    record('N-SET', request.getRequestedSopInstanceUid(), this.association.getCallingAeTitle(), request);
    const response = NSetResponse.fromRequest(request);
    response.setStatus(Status.Success);
    callback(response);
  }
}

const server = new Server(StepProvider);
server.on('networkError', (e) => console.error(e.message));
server.listen(port);
console.log(`listening on ${port}`);
process.on('SIGTERM', () => { server.close(); process.exit(0); });
